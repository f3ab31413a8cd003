#include "vcl/Graphics.h"

#include "vcl/Controls.h"

namespace vcl {

QColor ToQColor(TColor color) {
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
}

bool TPicture::LoadFromFile(const std::string& fileName) {
    QPixmap loaded;
    if (!loaded.load(ToQString(fileName))) {
        pixmap_ = QPixmap();
        return false;
    }
    pixmap_ = loaded;
    return true;
}

} // namespace vcl
