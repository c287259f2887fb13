// The preferences window: input handling (regions, numbered split files,
// unrecognised files and how headerless input is read), logging, the sounds,
// file comments and playback conveniences. It keeps no values of its own:
// every control reads its user-defaults key and writes it at once.
#pragma once

#include <QDialog>
#include <memory>

#include "platform/notification_center.h"
#include "soundfile/core_audio_types.h"

namespace Ui {
class Preferences;
}
namespace platform {
class UserDefaults;
}

// Notifications posted when the blip and auto-play settings change; the main
// window's copies of the two boxes follow them, and this window follows theirs.
inline constexpr char XWBlipAtEndChanged[] = "XWBlipAtEndChanged";
inline constexpr char XWAutoPlayNextChanged[] = "XWAutoPlayNextChanged";

class PreferenceController : public QDialog {
    Q_OBJECT
public:
    // The items of the type popup, by tag.
    struct FileTypeItem {
        OSType type;
        int wordSize;
        bool bigEndian;
        bool takesChannelField;  // else one channel
        const char* title;
    };
    static constexpr int kFileTypeItemCount = 19;
    static const FileTypeItem kFileTypeItems[kFileTypeItemCount];
    // The rates of the rate popup, by tag (Hz).
    static constexpr int kSampleRateItemCount = 20;
    static const double kSampleRates[kSampleRateItemCount];

    explicit PreferenceController(platform::UserDefaults& defaults, QWidget* parent = nullptr);
    ~PreferenceController() override;

    // Copies the raw-file keys into the process-wide raw settings.
    static void syncRawSettings(const platform::UserDefaults& defaults);

    void selectInputTab();
    void selectLoggingTab();

    // Fills every control from the user defaults.
    void updateUI();
    // Puts the 20 keys of this window back to their factory values (the
    // channel count and everything else stay), refills the window and posts
    // both notifications.
    void doFactoryDefaults();

    // The user's choices, as the controls deliver them.
    void doBadRegion(int tag);
    void doUnrecognizedFilesMatrix(int tag);
    void doFileTypePopup(int tag);
    void doSampleRatePopup(int tag);
    void doChannelTextField();

    // The type item's tag the stored keys map to (0 for an unknown type or
    // word size).
    int fileTypeTagFromDefaults() const;
    // Whether an item of either popup may be chosen, by tag.
    bool isFileTypeItemEnabled(int tag) const;
    bool isSampleRateItemEnabled(int tag) const;
    // The tag of the rate popup's current item, -1 for none.
    int selectedSampleRateTag() const;

private:
    void connectControls();
    // Stores a checkbox's state and runs what follows from it.
    void doCheckbox(const char* key, bool on);
    void enableLogElements();
    void enableFileTypeElements(bool enable);
    void setupFileTypePopup();
    void setupSampleRatePopup();
    // Type popup: stores the item's keys (always, or only those that differ).
    void applyFileTypeTag(int tag, bool onlyChanges);
    // The item enabling of both popups; a telephony type shows its rate.
    void validatePopupItems();
    uint32_t channelFieldValue() const;
    void followNotification(const platform::Notification& note);

    platform::UserDefaults& defaults_;
    std::unique_ptr<Ui::Preferences> ui_;
    platform::NotificationCenter::Token blipToken_ = 0;
    platform::NotificationCenter::Token autoPlayToken_ = 0;
};
