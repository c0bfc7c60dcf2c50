#include "http_get.h"

#include <curl/curl.h>

namespace {

size_t AppendBody(char* data, size_t size, size_t count, void* target)
{
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

// The multi interface's wait returns every 20 ms, so the caller's progress function runs often
// enough to keep a window answering (painting, accessibility requests) while it blocks.
CURLcode PerformReporting(CURL* curl, const DownloadProgressFunction& progress)
{
    CURLM* multi = curl_multi_init();
    if (!multi) return CURLE_OUT_OF_MEMORY;
    curl_multi_add_handle(multi, curl);
    CURLcode code = CURLE_OK;
    int running = 1;
    while (running) {
        if (curl_multi_perform(multi, &running) != CURLM_OK) {
            code = CURLE_RECV_ERROR;
            break;
        }
        curl_off_t expected = -1, received = 0;
        curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
        curl_easy_getinfo(curl, CURLINFO_SIZE_DOWNLOAD_T, &received);
        if (!progress(expected > 0 ? expected : 0, received)) {
            code = CURLE_ABORTED_BY_CALLBACK;
            break;
        }
        if (running) curl_multi_poll(multi, nullptr, 0, 20, nullptr);
    }
    if (code == CURLE_OK) {
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left))
            if (message->msg == CURLMSG_DONE) code = message->data.result;
    }
    curl_multi_remove_handle(multi, curl);
    curl_multi_cleanup(multi);
    return code;
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
    const CURLcode code = progress ? PerformReporting(curl, progress) : curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    curl_easy_cleanup(curl);
    if (code != CURLE_OK) {
        result.error = message[0] ? message : curl_easy_strerror(code);
        return result;
    }
    result.answered = true;
    return result;
}

bool HttpGet(const std::string& url, std::string& body, std::string& error)
{
    HttpResult result = HttpDownload(url);
    body = std::move(result.body);
    error = std::move(result.error);
    return result.answered;
}
