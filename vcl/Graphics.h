// Colours, fonts and pictures, as the controls take them.
#pragma once

#include <QColor>
#include <QPixmap>
#include <cstdint>
#include <string>

namespace vcl {

// A colour as the framework stores it: 0x00BBGGRR.
using TColor = std::uint32_t;

constexpr TColor RGB(int r, int g, int b) {
    return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}

constexpr TColor clBlack = RGB(0, 0, 0);
constexpr TColor clWhite = RGB(255, 255, 255);
constexpr TColor clNavy = RGB(0, 0, 128);
constexpr TColor clOlive = RGB(128, 128, 0);
constexpr TColor clCream = RGB(255, 251, 240);
constexpr TColor clBtnFace = RGB(236, 233, 216);
// The system colours, with the values of the desktop theme the program was drawn for.
constexpr TColor cl3DDkShadow = RGB(113, 111, 100);
constexpr TColor clMenu = RGB(255, 255, 255);
constexpr TColor clMenuHighlight = RGB(49, 106, 197);
constexpr TColor clCaptionText = RGB(255, 255, 255);
constexpr TColor clWindowText = RGB(0, 0, 0);

QColor ToQColor(TColor color);

struct TFont {
    std::string Name = "Sans Serif";
    int Size = 8; // points
    bool Bold = false;
    TColor Color = clWindowText;
};

// A picture: read from a file or from the program's compiled-in resources (":/...").
class TPicture {
public:
    TPicture() = default;
    explicit TPicture(const std::string& fileName) { LoadFromFile(fileName); }
    // False, leaving the picture empty, when the file cannot be read as a picture.
    bool LoadFromFile(const std::string& fileName);
    bool Empty() const { return pixmap_.isNull(); }
    int Width() const { return pixmap_.width(); }
    int Height() const { return pixmap_.height(); }
    const QPixmap& Pixmap() const { return pixmap_; }

private:
    QPixmap pixmap_;
};

} // namespace vcl
