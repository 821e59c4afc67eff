#pragma once
#include <memory>
#include <string>

class TForm1;
class TForm2;
class TForm3;
class TForm5;
class TForm6;
class TOKBottomDlg;
class TKoordDlg;

// The seven windows of the program, each one instance for the whole run,
// reached by the others through this one reference.
struct Windows {
    TForm1* Form1 = nullptr;
    TForm2* Form2 = nullptr;
    TForm3* Form3 = nullptr;
    TForm5* Form5 = nullptr;
    TForm6* Form6 = nullptr;
    TOKBottomDlg* OKBottomDlg = nullptr;
    TKoordDlg* KoordDlg = nullptr;

    // Creates them in their order, the main window first, all hidden.
    static std::unique_ptr<Windows> Create(const std::string& programFolder);
    static Windows* Instance();
    ~Windows();

private:
    Windows() = default;
};
