#include "tilestore/jpeg_image.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <utility>

// jpeglib.h needs FILE and size_t declared before it.
#include <jerror.h>
#include <jpeglib.h>

#include "platform/file_io.h"

namespace {

// libjpeg reports errors through a callback that must not return. It lands
// in Guarded() below; everything else here stays plain C++.
struct JpegErrors {
    jpeg_error_mgr Mgr{};
    std::jmp_buf Jump{};
    bool AcceptCutShort = false;
    bool SawCutShort = false;
};

[[noreturn]] void ErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->Jump, 1);
}

// A corrupt-data warning (premature end, bad Huffman code, extraneous bytes)
// means the picture is at least partly invented: a failure for us, and no
// reason to decode the rest. Trace messages are ignored.
void EmitMessage(j_common_ptr info, int level) {
    if (level >= 0) return;
    ++info->err->num_warnings;
    auto* errors = reinterpret_cast<JpegErrors*>(info->err);
    // Once the data has run out, the warnings that follow (the decoder
    // hitting the end marker put in its place) are that same cut.
    if (errors->AcceptCutShort && (errors->SawCutShort || info->err->msg_code == JWRN_JPEG_EOF)) {
        errors->SawCutShort = true;
        return;
    }
    ErrorExit(info);
}

void OutputMessage(j_common_ptr) {}

jpeg_error_mgr* InitErrors(JpegErrors& errors) {
    jpeg_std_error(&errors.Mgr);
    errors.Mgr.error_exit = ErrorExit;
    errors.Mgr.emit_message = EmitMessage;
    errors.Mgr.output_message = OutputMessage;
    return &errors.Mgr;
}

// The one place where libjpeg's error exit returns to. `body` runs libjpeg
// calls and returns its verdict; a longjmp skips its frame, so it must not
// own anything with a destructor: every owner lives in the caller.
template <class Body>
bool Guarded(JpegErrors& errors, Body&& body) {
    if (setjmp(errors.Jump) != 0) return false;
    return body();
}

struct Decompressor {
    jpeg_decompress_struct Info{};
    JpegErrors Errors;
    Decompressor() { Info.err = InitErrors(Errors); }
    // Safe after a failed or missing create: libjpeg checks its pool pointer.
    ~Decompressor() { jpeg_destroy_decompress(&Info); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

struct Compressor {
    jpeg_compress_struct Info{};
    JpegErrors Errors;
    Compressor() { Info.err = InitErrors(Errors); }
    ~Compressor() { jpeg_destroy_compress(&Info); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
};

inline uint8_t Mul255(unsigned a, unsigned b) {
    return static_cast<uint8_t>((a * b + 127) / 255);
}

}  // namespace

bool DecodeJpeg(std::string_view bytes, Bitmap& picture, CutShort cutShort, int shrink) {
    if (bytes.empty() || (shrink != 1 && shrink != 2 && shrink != 4 && shrink != 8)) return false;
    Decompressor d;
    d.Errors.AcceptCutShort = cutShort == CutShort::Accept;
    Bitmap pic;
    // Set inside the guard only through pointers to these outer objects.
    const bool ok = Guarded(d.Errors, [&]() -> bool {
        jpeg_decompress_struct* info = &d.Info;
        jpeg_create_decompress(info);
        jpeg_mem_src(info, reinterpret_cast<const unsigned char*>(bytes.data()),
                     static_cast<unsigned long>(bytes.size()));
        if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK) return false;
        const long long w = info->image_width, h = info->image_height;
        if (w <= 0 || h <= 0 || w > MaxJpegSide || h > MaxJpegSide || w * h > MaxJpegPixels)
            return false;
        bool cmyk = false;
        switch (info->jpeg_color_space) {
            case JCS_GRAYSCALE:
            case JCS_YCbCr:
            case JCS_RGB:
                info->out_color_space = JCS_RGB;
                break;
            case JCS_CMYK:
            case JCS_YCCK:
                info->out_color_space = JCS_CMYK;
                cmyk = true;
                break;
            default:
                return false;
        }
        const bool inverted = cmyk && info->saw_Adobe_marker;
        info->scale_num = 1;
        info->scale_denom = static_cast<unsigned>(shrink);
        jpeg_start_decompress(info);
        const int width = static_cast<int>(info->output_width);
        const int height = static_cast<int>(info->output_height);
        pic.SetSize(width, height);
        if (pic.Empty()) return false;  // no memory for the picture
        JSAMPARRAY cmykRow = nullptr;
        if (cmyk)  // from libjpeg's pool: freed with the decompressor
            cmykRow = (*info->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE,
                                                 static_cast<JDIMENSION>(width) * 4, 1);
        if (!cmyk) {
            // Several rows a call: libjpeg then upsamples straight into them.
            JSAMPROW rows[16];
            while (info->output_scanline < info->output_height) {
                const int y = static_cast<int>(info->output_scanline);
                const int n = std::min(16, height - y);
                for (int i = 0; i < n; ++i) rows[i] = pic.ScanLine(y + i);
                if (jpeg_read_scanlines(info, rows, static_cast<JDIMENSION>(n)) == 0) return false;
            }
        }
        while (info->output_scanline < info->output_height) {
            const int y = static_cast<int>(info->output_scanline);
            uint8_t* dst = pic.ScanLine(y);
            if (jpeg_read_scanlines(info, cmykRow, 1) != 1) return false;
            // Adobe writes CMYK inverted; either way R = (1 - C)(1 - K).
            const JSAMPLE* s = cmykRow[0];
            for (int x = 0; x < width; ++x, s += 4, dst += 3) {
                const unsigned c = inverted ? s[0] : 255u - s[0];
                const unsigned m = inverted ? s[1] : 255u - s[1];
                const unsigned yl = inverted ? s[2] : 255u - s[2];
                const unsigned k = inverted ? s[3] : 255u - s[3];
                dst[0] = Mul255(c, k);
                dst[1] = Mul255(m, k);
                dst[2] = Mul255(yl, k);
            }
        }
        return true;
    });
    if (!ok) return false;
    // Every pixel came from real data. What follows the picture decides only
    // a stream cut short right before its end marker; a stray marker in place
    // of the end (FF D8 for FF D9) is left to the completeness rule of the
    // tile store, which looks at the bytes themselves.
    const bool finished = Guarded(d.Errors, [&]() -> bool {
        jpeg_finish_decompress(&d.Info);
        return true;
    });
    if (!finished && d.Errors.Mgr.msg_code == JWRN_JPEG_EOF) return false;
    picture.Image().swap(pic.Image());
    return true;
}

namespace {

// Output through the encoder's sink, a chunk at a time. A sink that fails
// turns into libjpeg's write error, which lands in the guard.
struct SinkDestination {
    jpeg_destination_mgr Mgr{};
    JpegLineEncoder::Sink Out;
    JOCTET Chunk[65536];

    static SinkDestination* Of(j_compress_ptr info) {
        return reinterpret_cast<SinkDestination*>(info->dest);
    }
    static void Init(j_compress_ptr info) {
        Of(info)->Mgr.next_output_byte = Of(info)->Chunk;
        Of(info)->Mgr.free_in_buffer = sizeof Of(info)->Chunk;
    }
    // Called from inside libjpeg: a sink that throws must not unwind
    // through C code; it is a failed write like any other.
    static bool Deliver(SinkDestination* self, std::size_t size) noexcept {
        try {
            return self->Out(reinterpret_cast<const char*>(self->Chunk), size);
        } catch (...) {
            return false;
        }
    }
    static boolean Empty(j_compress_ptr info) {
        SinkDestination* self = Of(info);
        if (!Deliver(self, sizeof self->Chunk)) ERREXIT(info, JERR_FILE_WRITE);
        self->Mgr.next_output_byte = self->Chunk;
        self->Mgr.free_in_buffer = sizeof self->Chunk;
        return TRUE;
    }
    static void Term(j_compress_ptr info) {
        SinkDestination* self = Of(info);
        const size_t used = sizeof self->Chunk - self->Mgr.free_in_buffer;
        if (used > 0 && !Deliver(self, used)) ERREXIT(info, JERR_FILE_WRITE);
    }
    SinkDestination() {
        Mgr.init_destination = Init;
        Mgr.empty_output_buffer = Empty;
        Mgr.term_destination = Term;
    }
};

}  // namespace

struct JpegLineEncoder::State {
    Compressor C;
    SinkDestination Dest;
};

JpegLineEncoder::JpegLineEncoder() : S(std::make_unique<State>()) {}

JpegLineEncoder::~JpegLineEncoder() = default;

namespace {

std::string LibjpegMessage(jpeg_compress_struct& info) {
    char text[JMSG_LENGTH_MAX] = {};
    (*info.err->format_message)(reinterpret_cast<j_common_ptr>(&info), text);
    return text;
}

}  // namespace

bool JpegLineEncoder::Start(int width, int height, int quality, Sink sink) {
    if (Failed) return false;
    S->Dest.Out = std::move(sink);
    jpeg_compress_struct* info = &S->C.Info;
    const bool ok = Guarded(S->C.Errors, [&]() -> bool {
        jpeg_create_compress(info);
        info->dest = &S->Dest.Mgr;
        info->image_width = static_cast<JDIMENSION>(std::max(width, 0));
        info->image_height = static_cast<JDIMENSION>(std::max(height, 0));
        info->input_components = 3;
        info->in_color_space = JCS_RGB;
        jpeg_set_defaults(info);
        jpeg_set_quality(info, std::clamp(quality, 1, 100), TRUE);  // baseline tables
        jpeg_start_compress(info, TRUE);
        return true;
    });
    if (!ok) {
        Failed = true;
        Message = LibjpegMessage(*info);
    }
    return ok;
}

bool JpegLineEncoder::WriteRows(const Bitmap& rows, int firstRow, int count) {
    if (Failed) return false;
    jpeg_compress_struct* info = &S->C.Info;
    if (rows.Width() != static_cast<int>(info->image_width) || firstRow < 0 || count < 0 ||
        firstRow + count > rows.Height()) {
        Failed = true;
        Message = "rows do not fit the image";
        return false;
    }
    const bool ok = Guarded(S->C.Errors, [&]() -> bool {
        for (int i = 0; i < count; ++i) {
            // libjpeg's row type is not const, but it only reads input rows.
            JSAMPROW row = const_cast<uint8_t*>(rows.ScanLine(firstRow + i));
            if (jpeg_write_scanlines(info, &row, 1) != 1) return false;
        }
        return true;
    });
    if (!ok) {
        Failed = true;
        Message = LibjpegMessage(*info);
    }
    return ok;
}

bool JpegLineEncoder::Finish() {
    if (Failed) return false;
    jpeg_compress_struct* info = &S->C.Info;
    const bool ok = Guarded(S->C.Errors, [&]() -> bool {
        jpeg_finish_compress(info);
        return true;
    });
    if (!ok) {
        Failed = true;
        Message = LibjpegMessage(*info);
    }
    return ok;
}

std::string EncodeJpeg(const Bitmap& picture, int quality) {
    if (picture.Empty()) return {};
    std::string out;
    JpegLineEncoder encoder;
    const auto toString = [&out](const char* data, size_t size) {
        out.append(data, size);
        return true;
    };
    if (!encoder.Start(picture.Width(), picture.Height(), quality, toString) ||
        !encoder.WriteRows(picture, 0, picture.Height()) || !encoder.Finish())
        return {};
    return out;
}

bool ReadJpegSize(std::string_view bytes, int& width, int& height) {
    if (bytes.empty()) return false;
    Decompressor d;
    jpeg_decompress_struct* info = &d.Info;
    const bool ok = Guarded(d.Errors, [&]() -> bool {
        jpeg_create_decompress(info);
        jpeg_mem_src(info, reinterpret_cast<const unsigned char*>(bytes.data()),
                     static_cast<unsigned long>(bytes.size()));
        return jpeg_read_header(info, TRUE) == JPEG_HEADER_OK;
    });
    if (!ok) return false;
    width = static_cast<int>(info->image_width);
    height = static_cast<int>(info->image_height);
    return true;
}

bool JpegImage::Decode(std::string bytes, CutShort cutShort) {
    Bytes = std::move(bytes);
    DecodedOk = DecodeJpeg(Bytes, Pic, cutShort);
    if (!DecodedOk) Pic = Bitmap();
    return DecodedOk;
}

bool JpegImage::LoadFile(const std::string& path) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) {
        Clear();
        return false;
    }
    return Decode(std::move(bytes));
}

bool JpegImage::Encode(const Bitmap& picture, int quality) {
    std::string bytes = EncodeJpeg(picture, quality);
    if (bytes.empty()) return false;
    Bytes = std::move(bytes);
    if (&picture != &Pic) Pic = picture;
    DecodedOk = true;
    return true;
}

void JpegImage::Assign(const Bitmap& picture) {
    Bytes.clear();
    if (&picture != &Pic) Pic = picture;
    DecodedOk = false;
}

void JpegImage::Clear() {
    Bytes.clear();
    Pic = Bitmap();
    DecodedOk = false;
}
