#include "platform/text_codec.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <memory>

namespace {

// The one byte Windows-1251 leaves undefined. Windows itself maps it to
// U+0098, and so do we, both ways, so that no byte of a file changes on its
// way through the program; iconv refuses it.
constexpr unsigned char UndefinedByte = 0x98;
constexpr const char* UndefinedInUtf8 = "\xC2\x98";

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
size_t SequenceLength(unsigned char lead) {
    return lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
}

// iconv descriptors carry conversion state, so every call opens its own: the
// codec is used from worker threads too. What iconv cannot convert becomes
// '?', and each such character of the input (UTF-8 direction only) is
// appended to `unconvertible`, when given.
std::string Convert(bool toCp1251, std::string_view in, std::string* unconvertible = nullptr) {
    iconv_t cd = toCp1251 ? iconv_open("CP1251", "UTF-8") : iconv_open("UTF-8", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
    std::unique_ptr<void, int (*)(iconv_t)> guard(cd, iconv_close);
    std::string out;
    out.resize(in.size() * 4 + 16);
    char* inPtr = const_cast<char*>(in.data());
    size_t inLeft = in.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    auto grow = [&] {
        size_t used = static_cast<size_t>(outPtr - out.data());
        out.resize(out.size() * 2);
        outPtr = out.data() + used;
        outLeft = out.size() - used;
    };
    auto emit = [&](std::string_view bytes) {
        while (outLeft < bytes.size()) grow();
        for (char c : bytes) *outPtr++ = c;
        outLeft -= bytes.size();
    };
    while (inLeft > 0) {
        size_t r = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        if (r != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            grow();
            continue;
        }
        // Invalid or unconvertible input: one byte, or one UTF-8 sequence.
        const auto lead = static_cast<unsigned char>(*inPtr);
        size_t skip = toCp1251 ? std::min(SequenceLength(lead), inLeft) : 1;
        const std::string_view sequence(inPtr, skip);
        if (!toCp1251 && lead == UndefinedByte) {
            emit(UndefinedInUtf8);
        } else if (toCp1251 && sequence == UndefinedInUtf8) {
            emit(std::string_view(reinterpret_cast<const char*>(&UndefinedByte), 1));
        } else {
            emit("?");
            if (unconvertible) unconvertible->append(sequence);
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
    return Convert(false, bytes);
}

std::string Utf8ToCp1251(std::string_view text) {
    if (IsAscii(text)) return std::string(text);
    return Convert(true, text);
}

std::string Cp1251Unencodable(std::string_view text) {
    std::string all;
    if (!IsAscii(text)) Convert(true, text, &all);
    // Each character once, in the order of first appearance. UTF-8 finds
    // whole characters only: a lead byte is never a continuation byte.
    std::string distinct;
    for (size_t i = 0; i < all.size();) {
        const size_t n = std::min(SequenceLength(static_cast<unsigned char>(all[i])), all.size() - i);
        const std::string_view ch(all.data() + i, n);
        if (distinct.find(ch) == std::string::npos) distinct.append(ch);
        i += n;
    }
    return distinct;
}

std::string Cp1251UnencodableList(std::string_view text) {
    const std::string bad = Cp1251Unencodable(text);
    std::string list;
    for (size_t i = 0; i < bad.size();) {
        const size_t n =
            std::min(SequenceLength(static_cast<unsigned char>(bad[i])), bad.size() - i);
        if (!list.empty()) list += ' ';
        list.append(bad, i, n);
        i += n;
    }
    return list;
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
