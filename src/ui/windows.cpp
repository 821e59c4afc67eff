#include "ui/windows.h"

#include "ui/koord_dlg.h"
#include "ui/tform1.h"
#include "ui/tform2.h"
#include "ui/tform3.h"
#include "ui/tform5.h"
#include "ui/tform6.h"
#include "ui/tokbottom_dlg.h"

namespace {
Windows* CurrentWindows = nullptr;
}

std::unique_ptr<Windows> Windows::Create(const std::string& programFolder) {
    std::unique_ptr<Windows> w(new Windows);
    CurrentWindows = w.get();
    w->Form1 = new TForm1(programFolder);
    w->Form1->setAttribute(Qt::WA_DeleteOnClose, false);
    w->Form2 = new TForm2(w->Form1);
    w->Form3 = new TForm3(w->Form1);
    w->Form5 = new TForm5(w->Form1);
    w->Form6 = new TForm6(w->Form1);
    w->OKBottomDlg = new TOKBottomDlg(w->Form1);
    w->KoordDlg = new TKoordDlg(w->Form1);
    return w;
}

Windows* Windows::Instance() { return CurrentWindows; }

Windows::~Windows() {
    if (CurrentWindows == this) CurrentWindows = nullptr;
    delete Form1;  // owns the dialogs
}
