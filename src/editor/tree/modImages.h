// The two shared image lists of the library trees and the details tabs, drawn
// in code at 16x16 with a 2x version of every image. Images are numbered from
// 1: 1-15 the node images (see NodeImageIndex), 16-23 images 1-8 with image 15
// (the alias mark) drawn over them, and in the button-face list only, 24 the
// help image. The images have transparent backgrounds and colours that read on
// light and dark palettes alike.
#pragma once

#include <vector>

#include <QIcon>

namespace zephrin::modImages {

inline constexpr int kImageSize = 16;
inline constexpr int kOverlaidImages = 8;   // images 1-8 get an overlaid version
inline constexpr int kOverlayImage = 15;
inline constexpr int kHelpImage = 24;

class ImageList {
public:
    // 1-based; an index out of range gives a null icon.
    QIcon Icon(int index) const;
    int Count() const { return static_cast<int>(icons_.size()); }

private:
    friend void BuildImageLists();
    friend void ReleaseImageLists();
    std::vector<QIcon> icons_;
};

// Both lists are built on first use (a QGuiApplication must exist).
const ImageList& GetWindowImageList();
const ImageList& GetButtonFaceImageList();
// Builds (or builds again) both lists.
void BuildImageLists();
// Empties both lists (done when the application object goes).
void ReleaseImageLists();

}  // namespace zephrin::modImages
