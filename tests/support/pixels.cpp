#include "tests/support/pixels.h"

#include "platform/draw/bitmap.h"
#include "tests/support/testutil.h"

#include <algorithm>
#include <cstdlib>

namespace pixeltest {

Box InkBounds(const plat::Bitmap& bitmap, int threshold)
{
    return InkBounds(bitmap, 0, 0, bitmap.Width(), bitmap.Height(), threshold);
}

Box InkBounds(const plat::Bitmap& bitmap, int left, int top, int right, int bottom, int threshold)
{
    Box box;
    for (int row = top; row < bottom; ++row)
        for (int x = left; x < right; ++x) {
            if (Alpha(bitmap.Pixel(x, row)) <= threshold)
                continue;
            if (box.empty) {
                box = Box{x, row, x + 1, row + 1, false};
                continue;
            }
            box.left = std::min(box.left, x);
            box.right = std::max(box.right, x + 1);
            box.top = std::min(box.top, row);
            box.bottom = std::max(box.bottom, row + 1);
        }
    return box;
}

std::string Picture(const plat::Bitmap& bitmap)
{
    std::string out;
    for (int row = 0; row < bitmap.Height(); ++row) {
        for (int x = 0; x < bitmap.Width(); ++x) {
            int a = Alpha(bitmap.Pixel(x, row));
            out.push_back(a > 127 ? '#' : a > 0 ? '+' : '.');
        }
        out.push_back('\n');
    }
    return out;
}

::testing::AssertionResult MatchesGolden(const plat::Bitmap& bitmap, const std::string& folder,
                                         const std::string& name)
{
    std::string golden = testutil::SourceDir() + "/" + folder + "/" + name + ".png";
    const char* update = std::getenv("QOR_UPDATE_GOLDEN");
    if (update && std::string(update) == "1") {
        if (!bitmap.SavePng(golden))
            return ::testing::AssertionFailure() << "cannot write " << golden;
        return ::testing::AssertionSuccess() << "wrote " << golden;
    }
    plat::Image expected = plat::Image::LoadPng(golden);
    if (expected.IsNull())
        return ::testing::AssertionFailure()
               << "missing golden " << golden << " (run with QOR_UPDATE_GOLDEN=1, then review it)";
    if (expected.Width() != bitmap.Width() || expected.Height() != bitmap.Height())
        return ::testing::AssertionFailure() << "golden " << name << " is " << expected.Width() << "x"
                                             << expected.Height() << ", picture is " << bitmap.Width() << "x"
                                             << bitmap.Height();
    // Antialiasing may differ by a few levels; a shape in the wrong place
    // differs by far more, on far more pixels.
    long long total = 0;
    int far = 0;
    const int count = bitmap.Width() * bitmap.Height();
    for (int row = 0; row < bitmap.Height(); ++row)
        for (int x = 0; x < bitmap.Width(); ++x) {
            uint32_t a = bitmap.Pixel(x, row), b = expected.Pixel(x, row);
            int worst = 0;
            for (int shift = 0; shift < 32; shift += 8) {
                int d = std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF));
                worst = std::max(worst, d);
                total += d;
            }
            if (worst > 24)
                ++far;
        }
    double mean = double(total) / (4.0 * count);
    if (far <= count / 500 && mean < 1.0)
        return ::testing::AssertionSuccess();
    const char* home = std::getenv("HOME");
    std::string actual = std::string(home ? home : "/tmp") + "/" + name + ".actual.png";
    bitmap.SavePng(actual);
    return ::testing::AssertionFailure() << "picture differs from golden " << name << ": " << far
                                         << " pixels far off, mean difference " << mean << "; actual saved as "
                                         << actual;
}

} // namespace pixeltest
