// No window system here: the dialog is played by the operator function that tests set.
#include <utility>

#include "settings/SettingsForm.h"

namespace {
TSettingsOperator settingsOperator;
std::function<void()> frontNotice;
std::function<void(void*, const std::string&)> saveFailureNotice;
}  // namespace

void SetSettingsOperator(TSettingsOperator play) { settingsOperator = std::move(play); }
void SetSettingsFrontNotice(std::function<void()> notice) { frontNotice = std::move(notice); }
void SetSaveFailureNotice(std::function<void(void*, const std::string&)> notice) {
    saveFailureNotice = std::move(notice);
}

bool ShowSettingsForm(TSettingsForm& form) { return settingsOperator ? settingsOperator(form) : false; }

void BringSettingsFormToFront() {
    if (frontNotice) frontNotice();
}

void ShowSaveFailure(const std::string& text) {
    if (saveFailureNotice) saveFailureNotice(ApplicationHandle(), text);
}
