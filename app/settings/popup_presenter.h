// How the program's modal messages reach the user: the window shows its pop-up window,
// the command-line tool prints the texts on stderr, tests record them.
#pragma once

#include <string>

class IPopupPresenter {
public:
    virtual ~IPopupPresenter() = default;
    // A message with an OK button; `second` may be empty.
    virtual void ShowMessage(const std::string& first, const std::string& second) = 0;
    // The yes/no question about an existing file; true only for Yes.
    virtual bool AskRewrite(const std::string& question, const std::string& fileName) = 0;
    // The button-less notice shown at the first start for a user (kept for `milliseconds`).
    virtual void ShowWaitNotice(const std::string& text, int milliseconds) = 0;
};

// Prints messages on stderr; questions are answered No (nothing is overwritten unasked).
class StderrPopupPresenter : public IPopupPresenter {
public:
    void ShowMessage(const std::string& first, const std::string& second) override;
    bool AskRewrite(const std::string& question, const std::string& fileName) override;
    void ShowWaitNotice(const std::string& text, int milliseconds) override;
};
