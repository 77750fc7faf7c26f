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

std::string SvgWriter::Escape(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
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
                // Control characters other than tab and line ends are not allowed in XML at all.
                if (static_cast<unsigned char>(c) < 32 && c != '\t' && c != '\n' && c != '\r')
                    escaped += '?';
                else
                    escaped += c;
        }
    }
    return escaped;
}

// Two decimals are far below a pixel; the text reads the same in every locale.
std::string SvgWriter::Number(double value) {
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
