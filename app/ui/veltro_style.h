// The program's style details: the password mask and the hint delays.
#pragma once

#include <QProxyStyle>

class VeltroStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override
    {
        switch (hint) {
        case SH_LineEdit_PasswordCharacter:
            return 0x25CF;
        case SH_ToolTip_WakeUpDelay:
            return 200;
        default:
            return QProxyStyle::styleHint(hint, option, widget, returnData);
        }
    }
};
