#include "app/list_and_preferences_snapshots.h"

#include <QDir>
#include <QHeaderView>
#include <QPixmap>

#include "app/conversion_list_controller.h"
#include "app/preference_controller.h"
#include "soundfile/type_codes.h"

namespace {

ConvSpecPtr Sample(const char* name, bool active, bool valid, const char* comment) {
    auto spec = std::make_shared<ConvSpec>();
    spec->setConversionName(name);
    spec->setActive(active);
    spec->setComment(comment);
    if (!valid) {
        // An output type that cannot be written.
        spec->setNeedsStrictFileType(true);
        spec->setOutputFileType(FourCC("Xxxx"));
        spec->validateSettings(plist::Dictionary());
    }
    return spec;
}

bool Save(QWidget& widget, const QString& path) {
    widget.ensurePolished();
    widget.show();
    const bool ok = widget.grab().save(path, "PNG");
    widget.hide();
    return ok;
}

}  // namespace

QStringList WriteListAndPreferencesSnapshots(const QString& folder, platform::UserDefaults& defaults) {
    QStringList written;
    QDir().mkpath(folder);
    {
        ConversionListController list(
            defaults,
            {Sample("CD master", true, true, "44.1 kHz, 16 bits"),
             Sample("Phone prompts", false, true, "8 kHz mu-law"),
             Sample("Needs a missing encoder", true, false, "cannot be written here")},
            {});
        ConversionTableView view;
        list.attachView(&view);
        view.horizontalHeader()->setStretchLastSection(true);
        view.resize(520, 160);
        view.resizeColumnToContents(ConversionListModel::kNameColumn);
        view.selectRow(2);
        const QString path = folder + "/conversion_list.png";
        if (Save(view, path)) written << path;
    }
    PreferenceController preferences(defaults);
    preferences.selectInputTab();
    const QString input = folder + "/preferences_input.png";
    if (Save(preferences, input)) written << input;
    preferences.selectLoggingTab();
    const QString logging = folder + "/preferences_logging.png";
    if (Save(preferences, logging)) written << logging;
    return written;
}
