// The option sheets of the Define Conversion dialog: the mp3 encoder's options
// and tags, MPEG frame padding, the G.729 file layout, the Broadcast Wave
// annotation and the Creative Voice sample rates. Each sheet is made once per
// dialog and loads its window anew at every press; it reads and writes the
// edited conversion's per-type options and ends with 1 for OK, 0 for Cancel.
#pragma once

#include <QString>
#include <map>
#include <memory>
#include <string>
#include <vector>

class DefineConvController;
class QButtonGroup;
class QDialog;
namespace Ui {
class LAMEOptions;
class MPEGOptions;
class G729Options;
class BWFAnnotation;
class VOCSampleRates;
}  // namespace Ui

// Byte layout of the annotation in the Broadcast Wave per-type block.
inline constexpr size_t kAnnotationOffset = 22;
inline constexpr size_t kAnnotationCapacity = 234;

// The user's full name: the account's comment field up to its first comma,
// else the login name.
std::string UserFullName();

class OptionSheet {
public:
    explicit OptionSheet(DefineConvController* owner) : owner_(owner) {}
    virtual ~OptionSheet() = default;
    OptionSheet(const OptionSheet&) = delete;
    OptionSheet& operator=(const OptionSheet&) = delete;

    // Loads the sheet's window, fills it and runs it over the dialog; 1 after
    // OK (the values written), 0 after Cancel (nothing changed).
    int run();

protected:
    // Builds the controls into `window` and fills them from the conversion.
    virtual void awakeFromNib(QDialog& window) = 0;
    virtual void doOK() = 0;
    virtual void unload() = 0;
    DefineConvController* owner_;
};

class LAMEOptionsController : public OptionSheet {
public:
    explicit LAMEOptionsController(DefineConvController* owner);
    ~LAMEOptionsController() override;
    // The genre name of a number, or empty.
    QString genreWithID(int id) const;
    void doTitleMatrix();
    void doVBRQualityMatrix();
    void doID3TagsCheckbox();

protected:
    void awakeFromNib(QDialog& window) override;
    void doOK() override;
    void unload() override;

private:
    std::unique_ptr<Ui::LAMEOptions> ui_;
    QButtonGroup* titleMatrix_ = nullptr;
    QButtonGroup* encodingModeMatrix_ = nullptr;
    std::map<std::string, int> genreDict_;
    std::vector<std::string> genres_;
};

class MPEGOptionsController : public OptionSheet {
public:
    explicit MPEGOptionsController(DefineConvController* owner);
    ~MPEGOptionsController() override;

protected:
    void awakeFromNib(QDialog& window) override;
    void doOK() override;
    void unload() override;

private:
    std::unique_ptr<Ui::MPEGOptions> ui_;
};

class G729Controller : public OptionSheet {
public:
    explicit G729Controller(DefineConvController* owner);
    ~G729Controller() override;
    void doFileFormatMatrix();

protected:
    void awakeFromNib(QDialog& window) override;
    void doOK() override;
    void unload() override;

private:
    std::unique_ptr<Ui::G729Options> ui_;
    QButtonGroup* fileFormatMatrix_ = nullptr;
    QButtonGroup* dataFormatMatrix_ = nullptr;
    QButtonGroup* headerMatrix_ = nullptr;
};

class BWFAnnotationController : public OptionSheet {
public:
    explicit BWFAnnotationController(DefineConvController* owner);
    ~BWFAnnotationController() override;

protected:
    void awakeFromNib(QDialog& window) override;
    void doOK() override;
    void unload() override;

private:
    std::unique_ptr<Ui::BWFAnnotation> ui_;
};

class VOCSampleRateController : public OptionSheet {
public:
    explicit VOCSampleRateController(DefineConvController* owner);
    ~VOCSampleRateController() override;
    static constexpr int kRows = 21;
    static constexpr int kColumns = 10;
    // The time-constant divisor of a cell: 255 in the first, one less per cell
    // down each column.
    static int Divisor(int row, int column) { return 255 - kRows * column - row; }
    void doMatrix();
    double value() const { return value_; }

protected:
    void awakeFromNib(QDialog& window) override;
    void doOK() override;
    void unload() override;

private:
    std::unique_ptr<Ui::VOCSampleRates> ui_;
    double value_ = 0;
    bool loading_ = false;
};
