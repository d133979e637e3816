#include "TrayPicture.h"

#include <algorithm>
#include <optional>

namespace {

struct TColour {
    int Red;
    int Green;
    int Blue;
};

constexpr TColour kNavy{0x1F, 0x3B, 0x57};
constexpr TColour kWhite{0xFF, 0xFF, 0xFF};
constexpr TColour kGreen{0x00, 0x80, 0x00};
constexpr TColour kBlue{0x00, 0x00, 0xFF};
constexpr TColour kSky{0xA6, 0xCA, 0xF0};

// The drawing is 64 units square; the mark is a disc with a white ring, big enough to be seen
// at 16 pixels.
constexpr double kMarkX = 46;
constexpr double kMarkY = 46;
constexpr double kMarkRadius = 15;
constexpr double kRingRadius = 18;

TColour FromRgb(uint32_t rgb) {
    return {static_cast<int>((rgb >> 16) & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
            static_cast<int>(rgb & 0xFF)};
}

bool InRoundRect(double x, double y, double left, double top, double width, double height,
                 double radius) {
    if (x < left || x >= left + width || y < top || y >= top + height) {
        return false;
    }
    const double cx = std::clamp(x, left + radius, left + width - radius);
    const double cy = std::clamp(y, top + radius, top + height - radius);
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
}

bool InDisc(double x, double y, double cx, double cy, double radius) {
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius;
}

// The program's icon at a point of the drawing, later shapes on top; none outside it.
std::optional<TColour> IconAt(double x, double y) {
    std::optional<TColour> colour;
    if (InRoundRect(x, y, 2, 2, 60, 60, 10)) {
        colour = kNavy;
    }
    if (InRoundRect(x, y, 8, 12, 22, 16, 2)) {
        colour = kWhite;
    }
    if (x >= 11 && x < 27 && y >= 16 && y < 18) {
        colour = kGreen;
    }
    if (x >= 11 && x < 23 && y >= 21 && y < 23) {
        colour = kBlue;
    }
    // The line from the left box to the right one, 3 units wide.
    if ((x >= 30 && x < 39.5 && y >= 18.5 && y < 21.5) ||
        (x >= 36.5 && x < 39.5 && y >= 18.5 && y < 45.5) ||
        (x >= 36.5 && x < 46 && y >= 42.5 && y < 45.5)) {
        colour = kSky;
    }
    if (InRoundRect(x, y, 40, 36, 18, 16, 2)) {
        colour = kSky;
    }
    for (const double cx : {45.0, 53.0}) {
        if (InDisc(x, y, cx, 44, 2)) {
            colour = kNavy;
        }
    }
    return colour;
}

std::optional<TColour> PictureAt(double x, double y, TTrayPicture picture) {
    if (picture == TTrayPicture::Idle) {
        return IconAt(x, y);
    }
    if (InDisc(x, y, kMarkX, kMarkY, kMarkRadius)) {
        return FromRgb(TrayMarkColour(picture));
    }
    if (InDisc(x, y, kMarkX, kMarkY, kRingRadius)) {
        return kWhite;
    }
    return IconAt(x, y);
}

}  // namespace

uint32_t TrayMarkColour(TTrayPicture picture) {
    switch (picture) {
        case TTrayPicture::Serving:
            return 0x00B000;
        case TTrayPicture::Failed:
            return 0xE00000;
        case TTrayPicture::Asking:
            return 0xFFB000;
        case TTrayPicture::Idle:
            break;
    }
    return 0;
}

std::vector<uint32_t> TrayPicturePixels(TTrayPicture picture, int size) {
    // Each pixel is the mean of 4 by 4 points, so the edges are smooth at every size.
    constexpr int kSamples = 4;
    std::vector<uint32_t> pixels;
    pixels.reserve(static_cast<size_t>(size) * static_cast<size_t>(size));
    for (int row = 0; row < size; ++row) {
        for (int column = 0; column < size; ++column) {
            int red = 0;
            int green = 0;
            int blue = 0;
            int covered = 0;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const double x = (column + (sx + 0.5) / kSamples) * 64 / size;
                    const double y = (row + (sy + 0.5) / kSamples) * 64 / size;
                    if (const std::optional<TColour> colour = PictureAt(x, y, picture)) {
                        red += colour->Red;
                        green += colour->Green;
                        blue += colour->Blue;
                        ++covered;
                    }
                }
            }
            if (covered == 0) {
                pixels.push_back(0);
                continue;
            }
            const auto alpha = static_cast<uint32_t>(covered * 255 / (kSamples * kSamples));
            pixels.push_back(alpha << 24 | static_cast<uint32_t>(red / covered) << 16 |
                             static_cast<uint32_t>(green / covered) << 8 |
                             static_cast<uint32_t>(blue / covered));
        }
    }
    return pixels;
}
