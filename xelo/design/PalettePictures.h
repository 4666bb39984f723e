// The palette pictures of the registered components: 32 x 32 pixels in
// the 16 colours of the classic palette, named after the component class in
// upper case ("TXELOSERVER", "TXELOSERVERBROWSER", "TXELOGUI"). A design
// host finds a class's picture by the class name.
//
// Main thread only (the pictures are drawn once, on first use).
#pragma once

#include <QImage>
#include <QPixmap>

#include <string>
#include <vector>

namespace xelo {

// The names of the pictures there are.
std::vector<std::string> PalettePictureNames();
// The picture of the class `className` (any case); a null image when there
// is none. Needs no QGuiApplication.
QImage PaletteImage(const std::string& className);
// The same as a pixmap, for widgets; needs a QGuiApplication.
QPixmap PalettePicture(const std::string& className);

}  // namespace xelo
