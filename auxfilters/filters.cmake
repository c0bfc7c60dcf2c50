# The eight filter libraries, under the file names the pipeline loads.
target_sources(auxcommon PRIVATE common/owned_sample.cpp common/audio_types.cpp common/buffers.cpp
                                 common/pass_through.cpp common/encoder_filter.cpp)
target_include_directories(auxcommon PUBLIC ${CMAKE_SOURCE_DIR}/interfaces)

veltro_filter_library(aux_mmx264 mmx264.ax SOURCES h264/x264_filter.cpp LIBS auxh264)
veltro_filter_library(aux_aacenc aacenc.dll SOURCES aac/aac_filter.cpp LIBS auxaac)
veltro_filter_library(aux_tmp4mux tmp4mux.ax SOURCES mp4/mp4_mux_filter.cpp LIBS auxmp4)
veltro_filter_library(aux_controlfps KeshControlFps.ax SOURCES simple/control_fps.cpp LIBS auxcommon)
veltro_filter_library(aux_inftee KeshInfTee.ax SOURCES simple/inf_tee.cpp LIBS auxcommon)
veltro_filter_library(aux_audiovolume KeshAudiovolume.ax SOURCES simple/audio_volume.cpp LIBS auxcommon)
veltro_filter_library(aux_stereosplitter KeshStereoSplitter.ax SOURCES simple/stereo_splitter.cpp LIBS auxcommon)
veltro_filter_library(aux_audiogenerator KeshAudioGenerator.ax SOURCES simple/audio_generator.cpp LIBS auxcommon)
