#include "format/sim_format.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string_view>
#include <type_traits>

namespace sim {
namespace {

enum class Length { none, hh, h, l, ll, z, j, t, L };

// One conversion as written in the format, with "*" already replaced by the values it took.
struct Conversion {
    std::string flags;
    long long width = -1;  // -1: none
    int precision = -1;    // -1: none
    Length length = Length::none;
    const char *length_text = "";
    char letter = 0;

    // The conversion as printf text, with the given conversion character, flags and length modifier.
    std::string text(char conv, const std::string &with_flags, const char *with_length) const {
        std::string s = "%" + with_flags;
        if (width >= 0)
            s += std::to_string(width);
        if (precision >= 0) {
            s += '.';
            s += std::to_string(precision);
        }
        s += with_length;
        s += conv;
        return s;
    }
    std::string text() const { return text(letter, flags, length_text); }
};

// Formats one format string against one argument list. Each conversion takes its arguments from the list by
// the type its conversion character and length modifier name, and is printed on its own with snprintf, so
// that the list is always read with the right types whatever conversions the format mixes.
class Formatter {
public:
    Formatter(std::string &out, const char *fmt, va_list ap)
        : fmt_(fmt), saved_errno_(errno), out_(out), start_(out.size()) {
        va_copy(args_, ap);
    }
    ~Formatter() { va_end(args_); }
    Formatter(const Formatter &) = delete;
    Formatter &operator=(const Formatter &) = delete;

    void run();

private:
    // Reads the conversion that starts after a "%" at p; on success moves p past it and returns true.
    bool parse(const char *&p, Conversion &conv);
    // Appends one parsed conversion; false when the conversion character is not one we know.
    bool convert(const Conversion &conv);
    // The common conversions (%s %d %i %u %x %X %c, with "-" and a width at most) written without snprintf;
    // false, with nothing read from the arguments, for any other.
    bool convert_plain(const Conversion &conv);
    void convert_signed(const Conversion &conv);
    void convert_unsigned(const Conversion &conv);
    void convert_address(const Conversion &conv);
    void store_count(const Conversion &conv);
    template <typename T>
    void emit(const std::string &printf_text, T value);

    const char *fmt_;
    va_list args_;
    int saved_errno_;
    std::string &out_;
    std::size_t start_;  // where this format's text begins in out_
};

void Formatter::run() {
    if (fmt_ == nullptr)
        return;
    const char *p = fmt_;
    while (*p != '\0') {
        const char *percent = std::strchr(p, '%');
        if (percent == nullptr) {
            out_ += p;
            break;
        }
        out_.append(p, static_cast<std::size_t>(percent - p));
        p = percent + 1;
        if (*p == '%') {
            out_ += '%';
            ++p;
            continue;
        }
        Conversion conv;
        if (!parse(p, conv) || !convert(conv)) {
            // Not a conversion we know: keep its text as written. Only "%" is consumed, so that a "%"
            // inside the unknown text cannot swallow the character after it.
            out_ += '%';
            p = percent + 1;
        }
    }
}

bool Formatter::parse(const char *&p, Conversion &conv) {
    const char *q = p;
    for (;; ++q) {
        switch (*q) {
        case '-':
        case '+':
        case ' ':
        case '#':
        case '0':
        case '\'':
            conv.flags += *q;
            continue;
        default:
            break;
        }
        break;
    }
    if (*q == '*') {
        int width = va_arg(args_, int);
        ++q;
        // A negative width taken from the arguments is the "-" flag and its magnitude, as printf has it.
        if (width < 0) {
            conv.flags += '-';
            conv.width = -static_cast<long long>(width);
        } else {
            conv.width = width;
        }
    } else if (*q >= '0' && *q <= '9') {
        conv.width = 0;
        for (; *q >= '0' && *q <= '9'; ++q)
            if (conv.width < 1000000000)
                conv.width = conv.width * 10 + (*q - '0');
    }
    if (*q == '.') {
        ++q;
        if (*q == '*') {
            int precision = va_arg(args_, int);
            ++q;
            conv.precision = precision < 0 ? -1 : precision;  // negative: as if none was given
        } else {
            conv.precision = 0;
            for (; *q >= '0' && *q <= '9'; ++q)
                if (conv.precision < 100000000)
                    conv.precision = conv.precision * 10 + (*q - '0');
        }
    }
    auto take = [&](Length length, const char *text, int n) {
        conv.length = length;
        conv.length_text = text;
        q += n;
    };
    switch (*q) {
    case 'h':
        q[1] == 'h' ? take(Length::hh, "hh", 2) : take(Length::h, "h", 1);
        break;
    case 'l':
        q[1] == 'l' ? take(Length::ll, "ll", 2) : take(Length::l, "l", 1);
        break;
    case 'q':
        take(Length::ll, "q", 1);
        break;
    case 'z':
        take(Length::z, "z", 1);
        break;
    case 'j':
        take(Length::j, "j", 1);
        break;
    case 't':
        take(Length::t, "t", 1);
        break;
    case 'L':
        take(Length::L, "L", 1);
        break;
    default:
        break;
    }
    if (*q == '\0')
        return false;
    conv.letter = *q++;
    p = q;
    return true;
}

bool Formatter::convert_plain(const Conversion &conv) {
    if (conv.precision >= 0 || conv.length != Length::none || (!conv.flags.empty() && conv.flags != "-"))
        return false;
    char digits[16];
    std::string_view body;
    switch (conv.letter) {
    case 's': {
        const char *s = va_arg(args_, const char *);
        body = s != nullptr ? s : "(null)";
        break;
    }
    case 'd':
    case 'i':
        body = std::string_view(digits, std::to_chars(digits, digits + sizeof digits, va_arg(args_, int)).ptr - digits);
        break;
    case 'u':
        body = std::string_view(digits,
                                std::to_chars(digits, digits + sizeof digits, va_arg(args_, unsigned)).ptr - digits);
        break;
    case 'x':
    case 'X': {
        char *end = std::to_chars(digits, digits + sizeof digits, va_arg(args_, unsigned), 16).ptr;
        if (conv.letter == 'X')
            for (char *c = digits; c < end; ++c)
                *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
        body = std::string_view(digits, static_cast<std::size_t>(end - digits));
        break;
    }
    case 'c':
        digits[0] = static_cast<char>(va_arg(args_, int));
        body = std::string_view(digits, 1);
        break;
    default:
        return false;
    }
    const std::size_t pad = conv.width > static_cast<long long>(body.size())
                                ? static_cast<std::size_t>(conv.width) - body.size() : 0;
    if (conv.flags.empty())
        out_.append(pad, ' ');
    out_ += body;
    if (!conv.flags.empty())
        out_.append(pad, ' ');
    return true;
}

bool Formatter::convert(const Conversion &conv) {
    if (convert_plain(conv))
        return true;
    switch (conv.letter) {
    case 'd':
    case 'i':
        convert_signed(conv);
        return true;
    case 'u':
    case 'o':
    case 'x':
    case 'X':
        convert_unsigned(conv);
        return true;
    case 'c':
        if (conv.length == Length::l)
            emit(conv.text(), va_arg(args_, wint_t));
        else
            emit(conv.text(), va_arg(args_, int));
        return true;
    case 's':
        if (conv.length == Length::l) {
            const wchar_t *ws = va_arg(args_, const wchar_t *);
            if (ws == nullptr)
                emit(conv.text('s', conv.flags, ""), "(null)");
            else
                emit(conv.text(), ws);
        } else {
            const char *s = va_arg(args_, const char *);
            emit(conv.text(), s == nullptr ? "(null)" : s);
        }
        return true;
    case 'p':
        emit(conv.text(), va_arg(args_, const void *));
        return true;
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
        if (conv.length == Length::L)
            emit(conv.text(), va_arg(args_, long double));
        else
            emit(conv.text(), va_arg(args_, double));
        return true;
    case 'n':
        store_count(conv);
        return true;
    case 'm':
        emit(conv.text('s', conv.flags, ""), std::strerror(saved_errno_));
        return true;
    case 'r':
        convert_address(conv);
        return true;
    default:
        return false;
    }
}

void Formatter::convert_signed(const Conversion &conv) {
    const std::string text = conv.text();
    switch (conv.length) {
    case Length::l:
        emit(text, va_arg(args_, long));
        break;
    case Length::ll:
    case Length::L:
        emit(text, va_arg(args_, long long));
        break;
    case Length::z:
        emit(text, va_arg(args_, std::make_signed_t<std::size_t>));
        break;
    case Length::j:
        emit(text, va_arg(args_, std::intmax_t));
        break;
    case Length::t:
        emit(text, va_arg(args_, std::ptrdiff_t));
        break;
    default:  // none, hh, h: promoted to int; snprintf narrows it as the modifier says
        emit(text, va_arg(args_, int));
        break;
    }
}

void Formatter::convert_unsigned(const Conversion &conv) {
    const std::string text = conv.text();
    switch (conv.length) {
    case Length::l:
        emit(text, va_arg(args_, unsigned long));
        break;
    case Length::ll:
    case Length::L:
        emit(text, va_arg(args_, unsigned long long));
        break;
    case Length::z:
        emit(text, va_arg(args_, std::size_t));
        break;
    case Length::j:
        emit(text, va_arg(args_, std::uintmax_t));
        break;
    case Length::t:
        emit(text, va_arg(args_, std::make_unsigned_t<std::ptrdiff_t>));
        break;
    default:
        emit(text, va_arg(args_, unsigned));
        break;
    }
}

// "%r": the four bytes are read one by one, first octet first, so the text is the same on every host.
void Formatter::convert_address(const Conversion &conv) {
    const auto *octets = static_cast<const unsigned char *>(va_arg(args_, const void *));
    std::string dotted = "(null)";
    if (octets != nullptr)
        dotted = std::to_string(octets[0]) + "." + std::to_string(octets[1]) + "." + std::to_string(octets[2]) +
                 "." + std::to_string(octets[3]);
    // Of the flags only "-" means something to "%s".
    const bool left = conv.flags.find('-') != std::string::npos;
    emit(conv.text('s', left ? "-" : "", ""), dotted.c_str());
}

// "%n": stores the number of characters produced so far, in the integer type its length modifier names.
void Formatter::store_count(const Conversion &conv) {
    const auto count = static_cast<long long>(out_.size() - start_);
    switch (conv.length) {
    case Length::hh:
        *va_arg(args_, signed char *) = static_cast<signed char>(count);
        break;
    case Length::h:
        *va_arg(args_, short *) = static_cast<short>(count);
        break;
    case Length::l:
        *va_arg(args_, long *) = static_cast<long>(count);
        break;
    case Length::ll:
    case Length::L:
        *va_arg(args_, long long *) = count;
        break;
    case Length::z:
        *va_arg(args_, std::size_t *) = static_cast<std::size_t>(count);
        break;
    case Length::j:
        *va_arg(args_, std::intmax_t *) = count;
        break;
    case Length::t:
        *va_arg(args_, std::ptrdiff_t *) = static_cast<std::ptrdiff_t>(count);
        break;
    default:
        *va_arg(args_, int *) = static_cast<int>(count);
        break;
    }
}

// Appends the text of one conversion. Short texts are formatted on the stack; longer ones straight into the
// output, so no length is ever cut. An encoding error (a wide character with no multibyte form) adds nothing.
template <typename T>
void Formatter::emit(const std::string &printf_text, T value) {
    char small[128];
    const int n = std::snprintf(small, sizeof small, printf_text.c_str(), value);
    if (n < 0)
        return;
    const auto length = static_cast<std::size_t>(n);
    if (length < sizeof small) {
        out_.append(small, length);
        return;
    }
    const std::size_t old_size = out_.size();
    out_.resize(old_size + length + 1);
    std::snprintf(out_.data() + old_size, length + 1, printf_text.c_str(), value);
    out_.resize(old_size + length);
}

}  // namespace

void vformat_append(std::string &out, const char *fmt, va_list ap) {
    // A lone "%s", the way pieces of text are printed, is copied without parsing.
    if (fmt != nullptr && fmt[0] == '%' && fmt[1] == 's' && fmt[2] == '\0') {
        va_list copy;
        va_copy(copy, ap);
        const char *text = va_arg(copy, const char *);
        va_end(copy);
        out += text != nullptr ? text : "(null)";
        return;
    }
    Formatter(out, fmt, ap).run();
}

std::string vformat(const char *fmt, va_list ap) {
    std::string out;
    Formatter(out, fmt, ap).run();
    return out;
}

std::string format(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string text = vformat(fmt, ap);
    va_end(ap);
    return text;
}

}  // namespace sim
