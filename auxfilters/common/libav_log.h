// libavcodec and its companions log statistics and warnings of their own ("Qavg: ...", "2 frames
// left in the queue on closing") to stderr, the host's terminal. Only their errors get through;
// the filters report what matters in their own words.
#pragma once

extern "C" {
#include <libavutil/log.h>
}

inline void KeepLibavToErrors() { av_log_set_level(AV_LOG_ERROR); }
