#include "popup_presenter.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

// Carriage returns in the texts are line breaks, as the window's labels show them.
std::string AsLines(std::string text)
{
    for (char& c : text)
        if (c == '\r') c = '\n';
    return text;
}

}  // namespace

void StderrPopupPresenter::ShowMessage(const std::string& first, const std::string& second)
{
    std::fprintf(stderr, "%s\n", AsLines(first).c_str());
    if (!second.empty()) std::fprintf(stderr, "%s\n", AsLines(second).c_str());
}

bool StderrPopupPresenter::AskRewrite(const std::string& question, const std::string& fileName)
{
    std::fprintf(stderr, "%s\n%s (answered No)\n", fileName.c_str(), question.c_str());
    return false;
}

void StderrPopupPresenter::ShowWaitNotice(const std::string& text, int milliseconds)
{
    std::fprintf(stderr, "%s\n", text.c_str());
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
