#include "MLP/Tool/SvgWriter.h"

#include <charconv>
#include <cmath>
#include <ostream>

namespace synapsor {

SvgWriter::SvgWriter(std::ostream& out, double width, double height) : out(out) {
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << Number(width) << "\" height=\""
        << Number(height) << "\" viewBox=\"0 0 " << Number(width) << ' ' << Number(height)
        << "\" font-family=\"sans-serif\">\n";
    Rect(0, 0, width, height, "white", "none");
}

SvgWriter::~SvgWriter() {
    Finish();
}

void SvgWriter::Finish() {
    if (!finished)
        out << "</svg>\n";
    finished = true;
}

void SvgWriter::Line(double x1, double y1, double x2, double y2, std::string_view stroke,
                     double strokeWidth) {
    out << "<line x1=\"" << Number(x1) << "\" y1=\"" << Number(y1) << "\" x2=\"" << Number(x2)
        << "\" y2=\"" << Number(y2) << "\" stroke=\"" << Escape(stroke) << "\" stroke-width=\""
        << Number(strokeWidth) << "\"/>\n";
}

void SvgWriter::Polyline(const std::vector<std::pair<double, double>>& points,
                         std::string_view stroke, double strokeWidth, std::string_view title) {
    out << "<polyline fill=\"none\" stroke=\"" << Escape(stroke) << "\" stroke-width=\""
        << Number(strokeWidth) << "\" stroke-linejoin=\"round\" points=\"";
    for (std::size_t i = 0; i < points.size(); ++i)
        out << (i ? " " : "") << Number(points[i].first) << ',' << Number(points[i].second);
    out << "\"><title>" << Escape(title) << "</title></polyline>\n";
}

void SvgWriter::Rect(double x, double y, double width, double height, std::string_view fill,
                     std::string_view stroke) {
    out << "<rect x=\"" << Number(x) << "\" y=\"" << Number(y) << "\" width=\"" << Number(width)
        << "\" height=\"" << Number(height) << "\" fill=\"" << Escape(fill) << "\" stroke=\""
        << Escape(stroke) << "\"/>\n";
}

void SvgWriter::Text(double x, double y, std::string_view text, std::string_view anchor,
                     double size, double rotate) {
    out << "<text x=\"" << Number(x) << "\" y=\"" << Number(y) << "\" font-size=\"" << Number(size)
        << "\" text-anchor=\"" << Escape(anchor) << '"';
    if (rotate != 0.0) {
        out << " transform=\"rotate(" << Number(rotate) << ' ' << Number(x) << ' ' << Number(y)
            << ")\"";
    }
    out << '>' << Escape(text) << "</text>\n";
}

namespace {

// The length of the well-formed UTF-8 sequence at text[i] that XML allows as a character, or 0:
// overlong forms, surrogates, code points past U+10FFFF, the noncharacters U+FFFE and U+FFFF and
// the C1 controls U+0080 to U+009F count as not allowed.
std::size_t CharacterLength(std::string_view text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() - i < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0u) != 0x80u)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3Fu);
    }
    const char32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    const bool allowed = code >= least && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF) &&
                         code != 0xFFFE && code != 0xFFFF && !(code >= 0x80 && code <= 0x9F);
    return allowed ? length : 0;
}

}  // namespace

std::string SvgWriter::Escape(std::string_view text) {
    std::string escaped;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                // Control characters other than tab and line ends are not allowed in XML at all,
                // and a byte that does not start a UTF-8 character (a title or file name in
                // another encoding) would make the document unreadable: both become "?".
                if ((u < 32 && c != '\t' && c != '\n' && c != '\r') || u == 127) {
                    escaped += '?';
                } else if (u < 128) {
                    escaped += c;
                } else if (const std::size_t length = CharacterLength(text, i); length > 0) {
                    escaped.append(text.substr(i, length));
                    i += length - 1;
                } else {
                    escaped += '?';
                }
        }
    }
    return escaped;
}

// Two decimals are far below a pixel; the text reads the same in every locale.
std::string SvgWriter::Number(double value) {
    if (!std::isfinite(value))
        return "0";
    const double rounded = std::round(value * 100.0) / 100.0;
    char text[40];
    const auto [ptr, ec] = std::to_chars(text, text + sizeof text, rounded == 0.0 ? 0.0 : rounded,
                                         std::chars_format::fixed, 2);
    std::string s = ec == std::errc() ? std::string(text, ptr) : std::string("0");
    while (s.find('.') != std::string::npos && (s.back() == '0' || s.back() == '.')) {
        const bool dot = s.back() == '.';
        s.pop_back();
        if (dot)
            break;
    }
    return s;
}

}  // namespace synapsor
