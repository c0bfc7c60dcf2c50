#include "frame_io.h"

#include <algorithm>
#include <cstring>

#include "convert/color_rows.h"

Picture MakePicture(uint8_t* base, const FormatDescriptor& format, int64_t stride, uint32_t height)
{
    Picture p;
    p.plane[0] = base;
    p.stride[0] = stride;
    p.rows[0] = height;
    p.bottomUp = format.bottomUp;
    if (format.planar) {
        const uint32_t chromaRows = height >> format.vShift;
        const int64_t chromaStride = stride >> format.hShift;
        p.planeCount = 3;
        p.plane[1] = base + stride * height;
        p.plane[2] = p.plane[1] + chromaStride * chromaRows;
        p.stride[1] = p.stride[2] = chromaStride;
        p.rows[1] = p.rows[2] = chromaRows;
    }
    return p;
}

uint64_t PictureBytes(const FormatDescriptor& format, int64_t stride, uint32_t height)
{
    uint64_t bytes = uint64_t(std::abs(stride)) * height;
    if (format.planar) bytes += 2 * uint64_t(std::abs(stride) >> format.hShift) * (height >> format.vShift);
    return bytes;
}

void PlaneBuffer::Allocate(uint32_t count, uint32_t width, uint32_t height, uint16_t hShift, uint16_t vShift)
{
    // Every plane starts 16-byte aligned and keeps 16 spare bytes behind it for the row kernels.
    auto padded = [](size_t n) { return (n + 31) & ~size_t(15); };
    planes_ = WorkPlanes{};
    planes_.count = count;
    size_t total = 16;
    for (uint32_t p = 0; p < count; ++p) {
        bool chroma = p == 1 || p == 2;
        planes_.width[p] = chroma ? width >> hShift : width;
        planes_.height[p] = chroma ? height >> vShift : height;
        planes_.stride[p] = planes_.width[p];
        total += padded(size_t(planes_.width[p]) * planes_.height[p]);
    }
    storage_.assign(total, 0);
    uint8_t* at = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(storage_.data()) + 15) & ~uintptr_t(15));
    for (uint32_t p = 0; p < count; ++p) {
        planes_.plane[p] = at;
        at += padded(size_t(planes_.width[p]) * planes_.height[p]);
    }
}

WorkPlanes WorkPlanes::Rows(uint32_t first, uint32_t rows, uint16_t vShift) const
{
    WorkPlanes band = *this;
    for (uint32_t p = 0; p < count; ++p) {
        const uint16_t shift = p == 1 || p == 2 ? vShift : 0;
        band.plane[p] = Row(p, first >> shift);
        band.height[p] = rows >> shift;
    }
    return band;
}

WorkingLayout ChooseWorkingLayout(const FormatDescriptor& in, const FormatDescriptor& out)
{
    WorkingLayout layout;
    if (in.IsRgb() && out.IsRgb()) {
        layout.rgb = true;
        layout.planeCount = in.planeCount;
    } else if (in.IsRgb()) {
        layout.hShift = out.hShift;
        layout.vShift = out.vShift;
    } else if (out.IsRgb()) {
        layout.hShift = in.hShift;
        layout.vShift = in.vShift;
    } else {
        // 4:2:0 on either side keeps the planes 4:2:0: chroma rows are averaged on the way in
        // or serve two rows on the way out.
        layout.hShift = 1;
        layout.vShift = in.vShift | out.vShift;
    }
    return layout;
}

bool ServesAsPlanes(const FormatDescriptor& format, const WorkingLayout& layout)
{
    return format.planar && !layout.rgb && format.hShift == layout.hShift && format.vShift == layout.vShift;
}

WorkPlanes PlanesOf(const Picture& picture, const FormatDescriptor& format, Region region)
{
    WorkPlanes planes;
    planes.count = 3;
    for (uint32_t p = 0; p < 3; ++p) {
        const uint16_t hs = p ? format.hShift : 0, vs = p ? format.vShift : 0;
        planes.plane[p] = picture.Row(p, region.top >> vs) + (region.left >> hs);
        planes.width[p] = region.width >> hs;
        planes.height[p] = region.height >> vs;
        planes.stride[p] = (picture.bottomUp ? -1 : 1) * int64_t(picture.step) * picture.stride[p];
    }
    return planes;
}

namespace {

// Per-thread scratch rows, grown once: no allocation per frame.
uint8_t* Scratch(size_t bytes)
{
    thread_local std::vector<uint8_t> scratch;
    if (scratch.size() < bytes) scratch.resize(bytes);
    return scratch.data();
}

uint32_t BytesPerPixel(const FormatDescriptor& f) { return f.kind == kRgb32 ? 4 : f.kind == kRgb24 ? 3 : 2; }

PackedLayout PackedLayoutOf(const FormatDescriptor& f)
{
    return f.uFirst ? kUyvyLayout : f.vFirst ? kYvyuLayout : kYuy2Layout;
}

// One 4:2:2 row (packed or YV16) of a picture as Y, V and U samples.
void Read422Row(const Picture& src, const FormatDescriptor& in, uint32_t row, uint32_t left, uint32_t width,
                uint8_t* y, uint8_t* v, uint8_t* u)
{
    if (in.planar) {
        std::memcpy(y, src.Row(0, row) + left, width);
        std::memcpy(v, src.Row(1, row) + (left >> 1), width >> 1);
        std::memcpy(u, src.Row(2, row) + (left >> 1), width >> 1);
        return;
    }
    ColorRows().unpackPacked(src.Row(0, row) + size_t(left) * 2, PackedLayoutOf(in), width, y, v, u);
}

void Write422Row(const Picture& dst, const FormatDescriptor& out, uint32_t row, uint32_t left, uint32_t width,
                 const uint8_t* y, const uint8_t* v, const uint8_t* u)
{
    if (out.planar) {
        std::memcpy(dst.Row(0, row) + left, y, width);
        std::memcpy(dst.Row(1, row) + (left >> 1), v, width >> 1);
        std::memcpy(dst.Row(2, row) + (left >> 1), u, width >> 1);
        return;
    }
    ColorRows().packPacked(y, v, u, PackedLayoutOf(out), width, dst.Row(0, row) + size_t(left) * 2);
}

void CopyPlaneRows(const Picture& src, uint32_t srcPlane, size_t srcX, uint32_t srcTop, const Picture& dst,
                   size_t dstX, uint32_t dstTop, size_t bytes, uint32_t rows)
{
    for (uint32_t r = 0; r < rows; ++r)
        std::memcpy(dst.Row(srcPlane, dstTop + r) + dstX, src.Row(srcPlane, srcTop + r) + srcX, bytes);
}

}  // namespace

void UnpackRegion(const Picture& src, const FormatDescriptor& in, Region rg, const WorkingLayout& layout,
                  const WorkPlanes& dst)
{
    const uint32_t bpp = BytesPerPixel(in);
    if (in.IsRgb()) {
        if (layout.rgb) {
            for (uint32_t r = 0; r < rg.height; ++r) {
                uint8_t* const rows[4] = {dst.Row(0, r), dst.Row(1, r), dst.Row(2, r),
                                          dst.count > 3 ? dst.Row(3, r) : nullptr};
                UnpackRgbRow(src.Row(0, rg.top + r) + size_t(rg.left) * bpp, bpp, rg.width, rows, layout.planeCount);
            }
            return;
        }
        if (!layout.vShift) {
            for (uint32_t r = 0; r < rg.height; ++r)
                ColorRows().rgbToYuv(src.Row(0, rg.top + r) + size_t(rg.left) * bpp, bpp, rg.width, dst.Row(0, r),
                            dst.Row(1, r), dst.Row(2, r));
            return;
        }
        // An odd last row pairs with itself; its second luma row and its chroma row (beyond the
        // planes' rows) go to scratch.
        uint8_t* spare = Scratch(2 * size_t(rg.width));
        for (uint32_t r = 0; r < rg.height; r += 2) {
            const bool pair = r + 1 < rg.height;
            const uint8_t* row0 = src.Row(0, rg.top + r) + size_t(rg.left) * bpp;
            const uint8_t* row1 = pair ? src.Row(0, rg.top + r + 1) + size_t(rg.left) * bpp : row0;
            ColorRows().rgbToYuv420(row0, row1, bpp, rg.width, dst.Row(0, r), pair ? dst.Row(0, r + 1) : spare,
                                    pair ? dst.Row(1, r >> 1) : spare + rg.width,
                                    pair ? dst.Row(2, r >> 1) : spare + rg.width + rg.width / 2);
        }
        return;
    }
    if (in.vShift) {  // YV12 into 4:2:0 planes
        for (uint32_t r = 0; r < rg.height; ++r) std::memcpy(dst.Row(0, r), src.Row(0, rg.top + r) + rg.left, rg.width);
        for (uint32_t p = 1; p < 3; ++p)
            for (uint32_t r = 0; r < dst.height[p]; ++r)
                std::memcpy(dst.Row(p, r), src.Row(p, (rg.top >> 1) + r) + (rg.left >> 1), dst.width[p]);
        return;
    }
    if (!layout.vShift) {
        for (uint32_t r = 0; r < rg.height; ++r)
            Read422Row(src, in, rg.top + r, rg.left, rg.width, dst.Row(0, r), dst.Row(1, r), dst.Row(2, r));
        return;
    }
    // 4:2:2 into 4:2:0: each chroma row is the average of two source rows; an odd last row has
    // no chroma row in 4:2:0 planes.
    const uint32_t half = rg.width >> 1;
    for (uint32_t r = 0; r + 1 < rg.height; r += 2) {
        const uint32_t row = rg.top + r;
        if (!in.planar) {
            ColorRows().unpackPacked420(src.Row(0, row) + size_t(rg.left) * 2, src.Row(0, row + 1) + size_t(rg.left) * 2,
                                        PackedLayoutOf(in), rg.width, dst.Row(0, r), dst.Row(0, r + 1),
                                        dst.Row(1, r >> 1), dst.Row(2, r >> 1));
            continue;
        }
        std::memcpy(dst.Row(0, r), src.Row(0, row) + rg.left, rg.width);
        std::memcpy(dst.Row(0, r + 1), src.Row(0, row + 1) + rg.left, rg.width);
        for (uint32_t p = 1; p < 3; ++p)
            ColorRows().averageRows(src.Row(p, row) + (rg.left >> 1), src.Row(p, row + 1) + (rg.left >> 1), half,
                                    dst.Row(p, r >> 1));
    }
    if (rg.height & 1) {
        uint8_t* spare = Scratch(2 * size_t(half) + 2);
        Read422Row(src, in, rg.top + rg.height - 1, rg.left, rg.width, dst.Row(0, rg.height - 1), spare, spare + half);
    }
}

void PackRegion(const WorkPlanes& src, const WorkingLayout& layout, const Picture& dst, const FormatDescriptor& out,
                Region rg)
{
    const uint32_t bpp = BytesPerPixel(out);
    if (layout.rgb) {
        for (uint32_t r = 0; r < rg.height; ++r) {
            const uint8_t* rows[4] = {src.Row(0, r), src.Row(1, r), src.Row(2, r),
                                      src.count > 3 ? src.Row(3, r) : nullptr};
            PackRgbRow(rows, src.count, rg.width, dst.Row(0, rg.top + r) + size_t(rg.left) * bpp, bpp);
        }
        return;
    }
    // An odd last row of 4:2:0 planes shares the chroma row above it.
    auto chromaRow = [&](uint32_t r) { return layout.vShift ? std::min(r >> 1, src.height[1] - 1) : r; };
    if (out.IsRgb()) {
        for (uint32_t r = 0; r < rg.height; ++r)
            ColorRows().yuvToRgb(src.Row(0, r), src.Row(1, chromaRow(r)), src.Row(2, chromaRow(r)), rg.width,
                        dst.Row(0, rg.top + r) + size_t(rg.left) * bpp, bpp);
        return;
    }
    if (out.vShift) {  // 4:2:0 planes into YV12
        for (uint32_t r = 0; r < rg.height; ++r) std::memcpy(dst.Row(0, rg.top + r) + rg.left, src.Row(0, r), rg.width);
        for (uint32_t p = 1; p < 3; ++p)
            for (uint32_t r = 0; r < src.height[p]; ++r)
                std::memcpy(dst.Row(p, (rg.top >> 1) + r) + (rg.left >> 1), src.Row(p, r), src.width[p]);
        return;
    }
    for (uint32_t r = 0; r < rg.height; ++r)
        Write422Row(dst, out, rg.top + r, rg.left, rg.width, src.Row(0, r), src.Row(1, chromaRow(r)),
                    src.Row(2, chromaRow(r)));
}

bool ConvertsRgbToPacked(const FormatDescriptor& in, const FormatDescriptor& out)
{
    return in.IsRgb() && !out.IsRgb() && !out.planar;
}

void RgbToPackedRegion(const Picture& src, const FormatDescriptor& in, Region source, const Picture& dst,
                       const FormatDescriptor& out, Region target)
{
    const uint32_t bpp = BytesPerPixel(in);
    for (uint32_t r = 0; r < source.height; ++r)
        ColorRows().rgbToPacked(src.Row(0, source.top + r) + size_t(source.left) * bpp, bpp, PackedLayoutOf(out),
                                source.width, dst.Row(0, target.top + r) + size_t(target.left) * 2);
}

void CopyRegion(const Picture& src, const FormatDescriptor& format, Region rg, const Picture& dst, uint32_t dstLeft,
                uint32_t dstTop)
{
    if (!format.planar) {
        const uint32_t bpp = BytesPerPixel(format);
        CopyPlaneRows(src, 0, size_t(rg.left) * bpp, rg.top, dst, size_t(dstLeft) * bpp, dstTop,
                      size_t(rg.width) * bpp, rg.height);
        return;
    }
    CopyPlaneRows(src, 0, rg.left, rg.top, dst, dstLeft, dstTop, rg.width, rg.height);
    for (uint32_t p = 1; p < 3; ++p)
        CopyPlaneRows(src, p, rg.left >> format.hShift, rg.top >> format.vShift, dst, dstLeft >> format.hShift,
                      dstTop >> format.vShift, rg.width >> format.hShift, rg.height >> format.vShift);
}

namespace {

// Writes the repeating byte pattern over [x, x + bytes) of rows [top, top + rows) of a plane.
void FillRect(const Picture& dst, uint32_t plane, size_t x, size_t bytes, uint32_t top, uint32_t rows,
              const uint8_t* pattern, uint32_t patternSize)
{
    for (uint32_t r = 0; r < rows; ++r) {
        uint8_t* row = dst.Row(plane, top + r) + x;
        for (size_t i = 0; i < bytes; ++i) row[i] = pattern[i % patternSize];
    }
}

}  // namespace

void FillBorders(const Picture& dst, const FormatDescriptor& out, uint32_t width, uint32_t height, uint32_t left,
                 uint32_t top, uint32_t right, uint32_t bottom)
{
    top = std::min(top, height);
    bottom = std::min(bottom, height - top);
    left = std::min(left, width);
    right = std::min(right, width - left);
    const uint32_t middle = height - top - bottom;
    auto fill = [&](uint32_t plane, uint32_t bytesPerSample, uint16_t hs, uint16_t vs, const uint8_t* pattern,
                    uint32_t patternSize) {
        const size_t rowBytes = size_t(width >> hs) * bytesPerSample;
        const uint32_t t = top >> vs, m = (top + middle) >> vs, h = height >> vs;
        FillRect(dst, plane, 0, rowBytes, 0, t, pattern, patternSize);
        FillRect(dst, plane, 0, size_t(left >> hs) * bytesPerSample, t, m - t, pattern, patternSize);
        size_t rightStart = size_t((width - right) >> hs) * bytesPerSample;
        FillRect(dst, plane, rightStart, rowBytes - rightStart, t, m - t, pattern, patternSize);
        FillRect(dst, plane, 0, rowBytes, m, h - m, pattern, patternSize);
    };
    static constexpr uint8_t kYuy2Black[2] = {16, 128}, kUyvyBlack[2] = {128, 16}, kLumaBlack[1] = {16},
                             kChromaBlack[1] = {128}, kRgbBlack[1] = {0};
    if (out.planar) {
        fill(0, 1, 0, 0, kLumaBlack, 1);
        fill(1, 1, out.hShift, out.vShift, kChromaBlack, 1);
        fill(2, 1, out.hShift, out.vShift, kChromaBlack, 1);
    } else if (out.IsRgb()) {
        fill(0, BytesPerPixel(out), 0, 0, kRgbBlack, 1);
    } else {
        fill(0, 2, 0, 0, out.uFirst ? kUyvyBlack : kYuy2Black, 2);
    }
}
