#include "options.h"

#include <charconv>

const char* const kUsage =
    "usage: scalvo-cli --in FORMAT:WxH --out FORMAT:WxH [--method 0|1|2] [--crop L,T,R,B]\n"
    "                  [--ar W:H --ar-method 0..3] [--interlace 0|1|2] [--vbi 0..3]\n"
    "                  [--affinity-mask N] [--frames N] [--bench] [--properties]\n"
    "FORMAT: YUY2, UYVY, YVYU, YV16, YV12, RGB32 or RGB24; widths are even but for RGB, and\n"
    "heights even for YV12. Frames are read from stdin and written to stdout; RGB frames are\n"
    "read and written top row first (as ffmpeg's bgr24 and bgra). --bench converts N generated frames, handing round a few buffers filled once, and\n"
    "prints milliseconds per frame and frames per second.\n"
    "--properties shows the scaler's property pages for an input of the --in format (nothing is\n"
    "read or written) and prints the applied parameters when they close with OK (exit status 1\n"
    "after Cancel).\n";

namespace {

template <class T>
bool Number(std::string_view text, T* out)
{
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return ec == std::errc() && end == text.data() + text.size();
}

bool Real(const std::string& text, double* out)
{
    try {
        size_t used = 0;
        *out = std::stod(text, &used);
        return used == text.size();
    } catch (...) {
        return false;
    }
}

bool Frame(const std::string& text, RawFormat* out)
{
    size_t colon = text.find(':'), x = text.find('x', colon == std::string::npos ? 0 : colon);
    if (colon == std::string::npos || x == std::string::npos) return false;
    std::string name = text.substr(0, colon);
    bool known = false;
    for (int i = 0; i < 7; ++i)
        if (name == InfoOf(PixelFormat(i)).name) out->format = PixelFormat(i), known = true;
    if (!known || !Number(std::string_view(text).substr(colon + 1, x - colon - 1), &out->width) ||
        !Number(std::string_view(text).substr(x + 1), &out->height))
        return false;
    // A frame holds whole chroma samples: 4:2:2 and 4:2:0 widths are even, 4:2:0 heights too.
    const FormatDescriptor d = DescribeFormat(CodeOf(out->format, false), false);
    return out->width > 0 && out->height > 0 && out->width % (1u << d.hShift) == 0 &&
           out->height % (1u << d.vShift) == 0;
}

}  // namespace

std::optional<CliOptions> ParseOptions(const std::vector<std::string>& args, std::string* error)
{
    CliOptions o;
    bool haveIn = false, haveOut = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& name = args[i];
        if (name == "--bench" || name == "--properties") {
            (name == "--bench" ? o.bench : o.properties) = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            *error = "missing value after " + name;
            return std::nullopt;
        }
        const std::string& value = args[++i];
        bool ok = true;
        uint32_t n = 0;
        if (name == "--in")
            ok = haveIn = Frame(value, &o.in);
        else if (name == "--out")
            ok = haveOut = Frame(value, &o.out);
        else if (name == "--method")
            ok = Number(value, &n) && n <= 2, o.method = n;
        else if (name == "--ar-method")
            ok = Number(value, &o.arMethod) && o.arMethod <= 3;
        else if (name == "--interlace")
            ok = Number(value, &n) && n <= 2, o.interlace = n;
        else if (name == "--vbi")
            ok = Number(value, &n) && n <= 3, o.vbi = n;
        else if (name == "--affinity-mask")
            ok = Number(value, &n), o.affinityMask = n;
        else if (name == "--frames")
            ok = Number(value, &o.frames);
        else if (name == "--crop") {
            std::vector<uint32_t> values;
            size_t start = 0;
            for (size_t comma; ok && (comma = value.find(',', start)) != std::string::npos; start = comma + 1)
                ok = Number(std::string_view(value).substr(start, comma - start), &n), values.push_back(n);
            ok = ok && Number(std::string_view(value).substr(start), &n);
            values.push_back(n);
            ok = ok && values.size() == 4;
            o.crop = values;
        } else if (name == "--ar") {
            size_t colon = value.find(':');
            double w = 0, h = 0;
            ok = colon != std::string::npos && Real(value.substr(0, colon), &w) && Real(value.substr(colon + 1), &h);
            o.ar = std::make_pair(w, h);
        } else {
            *error = "unknown option " + name;
            return std::nullopt;
        }
        if (!ok) {
            *error = "bad value for " + name + ": " + value;
            return std::nullopt;
        }
    }
    if (!haveIn || !haveOut) {
        *error = "--in and --out are required";
        return std::nullopt;
    }
    if (o.bench && o.frames == 0) o.frames = 100;
    return o;
}
