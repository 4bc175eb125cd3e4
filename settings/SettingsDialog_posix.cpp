// No window system here: the dialog is played by the operator function that tests set.
#include <utility>

#include "settings/SettingsForm.h"

namespace {
TSettingsOperator settingsOperator;
}

void SetSettingsOperator(TSettingsOperator play) { settingsOperator = std::move(play); }

bool ShowSettingsForm(TSettingsForm& form) { return settingsOperator ? settingsOperator(form) : false; }
