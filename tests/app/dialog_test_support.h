// A Define Conversion dialog over the real type table and rules, with its own
// preferences, notification centre, scripted alerts and sheet runner.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <functional>
#include <memory>

#include "app/define_conversion_dialog.h"
#include "app/desktop_services.h"
#include "conversion/conv_spec.h"
#include "conversion/type_rules.h"
#include "formats/register_sound_files.h"
#include "soundfile/sound_file.h"
#include "soundfile/type_codes.h"
#include "test_support.h"

namespace dialogtest {

class ScriptedAlerts : public Alerts {
public:
    int run(QWidget*, const QString& title, const QString& message, const QString&,
            const QString&, const QString&) override {
        titles.push_back(title);
        messages.push_back(message);
        return 1;
    }
    QStringList titles, messages;
};

class DialogTest : public ::testing::Test {
protected:
    static plist::Dictionary& Table() {
        static plist::Dictionary* table = [] {
            CSoundFile::Cleanup();
            plist::Dictionary* t = &CSoundFile::GetFileTypeInfo();
            RegisterSoundFiles(*t);
            RegisterConversionRules(*t);
            // As the start-up does when it finds the encoder program.
            (*t)["'DMP3'"]["canBeWritten"] = plist::Value(true);
            return t;
        }();
        return *table;
    }

    void SetUp() override {
        DefineConvServices services;
        services.defaults = &defaults_;
        services.notifications = &notifications_;
        services.alerts = &alerts_;
        services.genreList = [this] { return genres_; };
        services.sheetRunner = [this](QDialog& sheet) {
            return sheetScript_ ? sheetScript_(sheet) : 0;
        };
        dialog_ = std::make_unique<DefineConvController>(Table(), nullptr, services);
    }

    // A conversion to the type, shown in the dialog.
    std::shared_ptr<ConvSpec> Open(OSType type, const std::function<void(ConvSpec&)>& edit = {}) {
        auto spec = std::make_shared<ConvSpec>();
        spec->setOutputFileType(type);
        spec->setNeedsStrictFileType(true);
        spec->setSampleRate(44100);
        if (edit) edit(*spec);
        dialog_->setConvSpec(spec);
        return spec;
    }

    // An edit that converts the rate and, when given, the word length.
    static std::function<void(ConvSpec&)> RateAndBits(double rate, int bits = 0) {
        return [rate, bits](ConvSpec& s) {
            s.setNeedsSampleRateConversion(true);
            s.setSampleRate(rate);
            s.setNeedsNewWordLength(bits != 0);
            if (bits) s.setWordLength(bits);
        };
    }
    // Opens the type's options sheet, which `script` answers.
    void RunSheet(std::function<int(QDialog&)> script) {
        sheetScript_ = std::move(script);
        Click("optionsButton");
    }

    template <class T>
    T* W(const char* name) {
        T* w = dialog_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    // Picks an output type as the user does.
    void Choose(OSType type) {
        auto* popup = W<QComboBox>("fileTypePopUp");
        const int index = popup->findData(QVariant(static_cast<uint32_t>(type)));
        ASSERT_GE(index, 0) << FourCCText(type);
        popup->setCurrentIndex(index);
        emit popup->activated(index);
    }
    void Activate(const char* popupName, int index) {
        auto* popup = W<QComboBox>(popupName);
        popup->setCurrentIndex(index);
        emit popup->activated(index);
    }
    void Type(const char* fieldName, const QString& text) {
        auto* field = W<QLineEdit>(fieldName);
        field->clear();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    }
    void Click(const char* name) { W<QAbstractButton>(name)->click(); }
    bool Checked(const char* name) { return W<QAbstractButton>(name)->isChecked(); }
    QString Info() { return W<QLabel>("infoTextField")->text(); }
    bool OkEnabled() { return W<QAbstractButton>("okButton")->isEnabled(); }

    testsupport::TempDir dir_;
    platform::UserDefaults defaults_{dir_ / "preferences.plist"};
    platform::NotificationCenter notifications_;
    ScriptedAlerts alerts_;
    std::map<std::string, int> genres_;
    std::function<int(QDialog&)> sheetScript_;
    std::unique_ptr<DefineConvController> dialog_;
};

}  // namespace dialogtest
