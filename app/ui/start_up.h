// The program's start before its window exists.
#pragma once

#include "settings/popup_presenter.h"
#include "single_instance.h"

// The single-instance check ("Veltro application is already in use" for a second start), then
// the encoder defaults with their wait notice on a user's first start. False: end the program.
bool StartChecks(IPopupPresenter& presenter, SingleInstanceLock& instance);

// SIGTERM and SIGINT close `window` as its close button does (the settings are written).
class QWidget;
void CloseOnTermination(QWidget* window);
