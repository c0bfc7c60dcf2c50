#include "http_download.h"

#include <curl/curl.h>

namespace {

size_t AppendBody(char* data, size_t size, size_t count, void* target)
{
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

int ReportProgress(void* target, curl_off_t expected, curl_off_t received, curl_off_t, curl_off_t)
{
    const auto& progress = *static_cast<const DownloadProgressFunction*>(target);
    return progress(expected, received) ? 0 : 1;
}

struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
};

}  // namespace

HttpResult HttpDownload(const std::string& url, const DownloadProgressFunction& progress)
{
    static CurlGlobal global;
    HttpResult result;
    CURL* curl = curl_easy_init();
    if (!curl) {
        result.error = "cannot start the HTTP client";
        return result;
    }
    char message[CURL_ERROR_SIZE] = "";
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, message);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 20L);
    // An installer may take long on a slow line; only a transfer that stalls for a minute fails.
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, 60L);
    if (progress) {
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, ReportProgress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &progress);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    }
    const CURLcode code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    curl_easy_cleanup(curl);
    if (code != CURLE_OK) {
        result.error = message[0] ? message : curl_easy_strerror(code);
        return result;
    }
    result.answered = true;
    return result;
}
