#include "filter/scalvo_params.h"

#include <initializer_list>
#include <utility>

using namespace ModuleConfig;

namespace {

template <VARTYPE VT>
void AddValues(CParamImpl<VT>* param,
               std::initializer_list<std::pair<typename VariantValue<VT>::type, const char*>> values)
{
    for (const auto& [value, meaning] : values) param->ValidValues().Add(std::make_unique<CLimitImpl<VT>>(value, meaning));
}

template <VARTYPE VT>
void Limit(CParamImpl<VT>* param, typename VariantValue<VT>::type minimum, typename VariantValue<VT>::type maximum)
{
    param->SetValidator(std::make_unique<CParamRange<VT>>(minimum, maximum));
}

constexpr std::initializer_list<std::pair<int16_t, const char*>> kOnOff = {{-1, "Enabled"}, {0, "Disabled"}};

}  // namespace

IMC_SCALVO::IMC_SCALVO(IUnknown* outer, ApplyHook hook)
    : CModuleConfigImpl(outer, CLSID_TolvaneVideoScaler), hook_(std::move(hook))
{
    SCALVO_Config& c = m_config;
    Limit(Register<VT_UI2>(SCALVO_PARAM_SOURCE_FRAME_WIDTH, "Source Frame Width", true, &c.sourceWidth, 0), 0, 65535);
    Limit(Register<VT_UI2>(SCALVO_PARAM_SOURCE_FRAME_HEIGHT, "Source Frame Height", true, &c.sourceHeight, 0), 0, 65535);
    Limit(Register<VT_UI2>(SCALVO_PARAM_SOURCE_AR_WIDTH, "Source AR Width Coefficient", true, &c.sourceArWidth, 0), 0,
          65535);
    Limit(Register<VT_UI2>(SCALVO_PARAM_SOURCE_AR_HEIGHT, "Source AR Height Coefficient", true, &c.sourceArHeight, 0),
          0, 65535);
    auto* subtype = Register<VT_UI2>(SCALVO_PARAM_SOURCE_SUBTYPE, "Source Stream Media SubType", true, &c.sourceSubtype, 0);
    Limit(subtype, 0, 7);
    AddValues(subtype, {{0, "Not Defined"}, {1, "YUY2"}, {2, "UYVY"}, {3, "YVYU"}, {4, "YV16"}, {5, "YV12"},
                        {6, "RGB32"}, {7, "RGB24"}});
    AddValues(Register<VT_I2>(SCALVO_PARAM_SOURCE_INTERLACE, "Source Stream Interlace Information", true,
                              &c.sourceInterlace, 0),
              kOnOff);
    auto* interlace = Register<VT_UINT>(SCALVO_PARAM_INTERLACE_STATE, "Interlace state definition", false,
                                        &c.interlaceState, 0);
    Limit(interlace, 0u, 2u);
    AddValues(interlace, {{0, "Auto"}, {1, "Progressive"}, {2, "Interlaced"}});
    AddValues(Register<VT_I2>(SCALVO_PARAM_CROPPING_STATE, "Cropping Option State", false, &c.croppingOn, 0), kOnOff);
    Limit(Register<VT_UI2>(SCALVO_PARAM_LEFT_CROPPING, "Left Cropping", false, &c.cropLeft, 0), 0, 16384);
    Limit(Register<VT_UI2>(SCALVO_PARAM_TOP_CROPPING, "Top Cropping", false, &c.cropTop, 0), 0, 16384);
    Limit(Register<VT_UI2>(SCALVO_PARAM_RIGHT_CROPPING, "Right Cropping", false, &c.cropRight, 0), 0, 16384);
    Limit(Register<VT_UI2>(SCALVO_PARAM_BOTTOM_CROPPING, "Bottom Cropping", false, &c.cropBottom, 0), 0, 16384);
    AddValues(Register<VT_I2>(SCALVO_PARAM_RESIZING_STATE, "Resizing Option State", false, &c.resizingOn, 0), kOnOff);
    Limit(Register<VT_UI2>(SCALVO_PARAM_RESIZED_WIDTH, "Resized Frame Width", false, &c.resizedWidth, 0), 0, 16384);
    Limit(Register<VT_UI2>(SCALVO_PARAM_RESIZED_HEIGHT, "Resized Frame Height", false, &c.resizedHeight, 0), 0, 16384);
    auto* method = Register<VT_UINT>(SCALVO_PARAM_RESIZING_METHOD, "Resizing Method", false, &c.resizingMethod, 1);
    Limit(method, 0u, 2u);
    AddValues(method, {{0, "Sharp"}, {1, "Precise"}, {2, "Lanczos"}});
    AddValues(Register<VT_I2>(SCALVO_PARAM_AR_CHANGE_STATE, "Changing AR Option State", false, &c.arChangeOn, 0),
              kOnOff);
    Limit(Register<VT_R8>(SCALVO_PARAM_TARGET_AR_WIDTH, "Target AR Width Coefficient", false, &c.targetArWidth, 1.0),
          0.0, 20000.0);
    Limit(Register<VT_R8>(SCALVO_PARAM_TARGET_AR_HEIGHT, "Target AR Height Coefficient", false, &c.targetArHeight,
                          1.0),
          0.0, 20000.0);
    auto* arMethod = Register<VT_UINT>(SCALVO_PARAM_AR_METHOD, "Changing AR Method", false, &c.arMethod, 0);
    Limit(arMethod, 0u, 3u);
    AddValues(arMethod, {{0, "Letter/Pillar Boxes"}, {1, "Crop"}, {2, "Squeeze/Stretch"}, {3, "Panorama"}});
    auto* vbi = Register<VT_UINT>(SCALVO_PARAM_VBI_MODE, "VBI using mode", false, &c.vbiMode, 0);
    Limit(vbi, 0u, 3u);
    AddValues(vbi, {{0, "Do not use"}, {1, "Remove"}, {2, "Add"}, {3, "Copy"}});
    AddValues(Register<VT_I2>(SCALVO_PARAM_COLOR_CONVERSION, "Color space conversion", false, &c.colorConversion, -1),
              kOnOff);
    auto* mask = Register<VT_UI4>(SCALVO_PARAM_AFFINITY_MASK, "Affinity Mask", false, &c.affinityMask, 0);
    Limit(mask, 0u, 0xFFFFFFFFu);
    AddValues(mask, {{0u, "Use all available processors"}});
}
