// Pictures of the conversion table (valid and invalid rows) and of both
// preference pages, for the snapshot program and the tests.
#pragma once

#include <QString>
#include <QStringList>

namespace platform {
class UserDefaults;
}

// Writes "conversion_list.png", "preferences_input.png" and
// "preferences_logging.png" into `folder`; answers the files written. The
// preferences window reads and may write `defaults`.
QStringList WriteListAndPreferencesSnapshots(const QString& folder, platform::UserDefaults& defaults);
