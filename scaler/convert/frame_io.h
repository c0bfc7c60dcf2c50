// Pictures in sample memory and the scaler's working planes, with the routines that move a
// region between them: unpack (picture -> planes), pack (planes -> picture), the same-format
// copy and the black border fill.
#pragma once

#include <cstdint>
#include <vector>

#include "convert/pixel_format.h"

struct Region {
    uint32_t left = 0, top = 0, width = 0, height = 0;
};

// One picture in a media sample: up to three memory planes (Y, V, U for YV12/YV16), addressed
// by top-down row number within one field (field 0 or 1 of step 2) or the whole frame (step 1).
struct Picture {
    uint8_t* plane[3] = {};
    int64_t stride[3] = {};
    uint32_t rows[3] = {};
    uint32_t planeCount = 1;
    bool bottomUp = false;
    uint32_t field = 0;
    uint32_t step = 1;

    uint8_t* Row(uint32_t p, uint32_t r) const
    {
        uint64_t index = field + uint64_t(step) * r;
        if (bottomUp) index = rows[p] - 1 - index;
        return plane[p] + int64_t(index) * stride[p];
    }
    Picture Field(uint32_t f, uint32_t fieldStep) const
    {
        Picture p = *this;
        p.field = f;
        p.step = fieldStep;
        return p;
    }
};
// base: start of the sample buffer; stride: the first plane's line stride.
Picture MakePicture(uint8_t* base, const FormatDescriptor& format, int64_t stride, uint32_t height);

// Bytes a picture of this format, stride and height occupies.
uint64_t PictureBytes(const FormatDescriptor& format, int64_t stride, uint32_t height);

// 8-bit planes: Y, V, U or B, G, R (, X). The scaler's own work planes are tightly packed
// (stride = width); a view onto a planar picture or onto some rows of other planes has the
// stride of what it shows.
struct WorkPlanes {
    uint8_t* plane[4] = {};
    uint32_t width[4] = {};
    uint32_t height[4] = {};
    int64_t stride[4] = {};
    uint32_t count = 0;
    uint8_t* Row(uint32_t p, uint32_t r) const { return plane[p] + int64_t(r) * stride[p]; }
    // Rows [first, first + rows) of the luma plane and the matching chroma rows; first is even.
    WorkPlanes Rows(uint32_t first, uint32_t rows, uint16_t vShift) const;
};

// Owns 16-byte aligned storage for a WorkPlanes set.
class PlaneBuffer {
public:
    // width x height luma, chroma planes shifted; count planes.
    void Allocate(uint32_t count, uint32_t width, uint32_t height, uint16_t hShift, uint16_t vShift);
    const WorkPlanes& Planes() const { return planes_; }

private:
    std::vector<uint8_t> storage_;
    WorkPlanes planes_;
};

// The layout the planes take between an input and an output format.
struct WorkingLayout {
    bool rgb = false;
    uint16_t planeCount = 3;
    uint16_t hShift = 0, vShift = 0;
};
WorkingLayout ChooseWorkingLayout(const FormatDescriptor& in, const FormatDescriptor& out);

// A planar picture's region seen as the planes of the layout, when its chroma shifts are the
// layout's: conversions can then read or write the picture without going through work planes.
bool ServesAsPlanes(const FormatDescriptor& format, const WorkingLayout& layout);
WorkPlanes PlanesOf(const Picture& picture, const FormatDescriptor& format, Region region);

// Picture region (luma samples) -> planes of the working layout.
void UnpackRegion(const Picture& src, const FormatDescriptor& in, Region region, const WorkingLayout& layout,
                  const WorkPlanes& dst);
// Planes of the working layout -> picture region.
void PackRegion(const WorkPlanes& src, const WorkingLayout& layout, const Picture& dst,
                const FormatDescriptor& out, Region region);
// RGB rows straight into packed 4:2:2 rows, without work planes; regions of the same size.
bool ConvertsRgbToPacked(const FormatDescriptor& in, const FormatDescriptor& out);
void RgbToPackedRegion(const Picture& src, const FormatDescriptor& in, Region source, const Picture& dst,
                       const FormatDescriptor& out, Region target);
// Same-format copy of a region to (dstLeft, dstTop) of another picture.
void CopyRegion(const Picture& src, const FormatDescriptor& format, Region region, const Picture& dst,
                uint32_t dstLeft, uint32_t dstTop);
// Black around the inner rectangle [left, width - right) x [top, height - bottom).
void FillBorders(const Picture& dst, const FormatDescriptor& out, uint32_t width, uint32_t height, uint32_t left,
                 uint32_t top, uint32_t right, uint32_t bottom);
