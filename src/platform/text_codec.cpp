#include "platform/text_codec.h"

#include <iconv.h>

#include <cerrno>
#include <memory>

namespace {

// iconv descriptors carry conversion state, so every call opens its own: the
// codec is used from worker threads too.
std::string Convert(const char* to, const char* from, std::string_view in, char replacement,
                    size_t replacementWidth) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
    std::unique_ptr<void, int (*)(iconv_t)> guard(cd, iconv_close);
    std::string out;
    out.resize(in.size() * 4 + 16);
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        if (r != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            size_t used = static_cast<size_t>(outPtr - out.data());
            out.resize(out.size() * 2);
            outPtr = out.data() + used;
            outLeft = out.size() - used;
            continue;
        }
        // Invalid or unconvertible input: emit a replacement and skip it.
        if (outLeft == 0) {
            size_t used = static_cast<size_t>(outPtr - out.data());
            out.resize(out.size() * 2);
            outPtr = out.data() + used;
            outLeft = out.size() - used;
        }
        *outPtr++ = replacement;
        --outLeft;
        size_t skip = 1;
        if (replacementWidth > 1) {
            // Skip one whole UTF-8 sequence.
            unsigned char c = static_cast<unsigned char>(*inPtr);
            skip = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (skip > inLeft) skip = inLeft;
        }
        inPtr += skip;
        inLeft -= skip;
    }
    out.resize(static_cast<size_t>(outPtr - out.data()));
    return out;
}

bool IsAscii(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

std::string Cp1251ToUtf8(std::string_view bytes) {
    if (IsAscii(bytes)) return std::string(bytes);
    return Convert("UTF-8", "CP1251", bytes, '?', 1);
}

std::string Utf8ToCp1251(std::string_view text) {
    if (IsAscii(text)) return std::string(text);
    return Convert("CP1251", "UTF-8", text, '?', 4);
}

size_t Utf8Length(std::string_view text) {
    size_t n = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++n;
    return n;
}

size_t Utf8Offset(std::string_view text, size_t index) {
    size_t n = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (n == index) return i;
            ++n;
        }
    }
    return text.size();
}

std::string Utf8Left(std::string_view text, size_t count) {
    return std::string(text.substr(0, Utf8Offset(text, count)));
}
