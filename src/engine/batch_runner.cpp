#include "engine/batch_runner.h"

#include "conversion/error_messages.h"
#include "foundation/string_utils.h"
#include "foundation/xwqf.h"
#include "soundfile/sample_conversion.h"

namespace {

// The log's class that stops a batch beside the catalogue's 0 and 2.
constexpr short kErrorClassStopping = 4;

}  // namespace

bool BatchRunner::StopsBatch(int code) {
    std::string text;
    const short cls = MakeErrorMessage(code, text);
    return cls == kErrorClassUnknown || cls == kErrorClassSerious || cls == kErrorClassStopping;
}

BatchRunner::BatchRunner(ConversionProcess& process) : process_(process) {
    // Runs on the batch thread, as the log does.
    token_ = platform::NotificationCenter::Default().AddObserver(
        QFConversionFailureNotification, &process_, [this](const platform::Notification& n) {
            const plist::Value* error = n.object.find(kErrorKey);
            const plist::Value* path = n.object.find(kInputPathKey);
            const int code = error ? static_cast<int>(error->asInteger()) : 0;
            std::string text;
            const short cls = MakeErrorMessage(code, text);
            if (StopsBatch(code)) {
                process_.setShouldStop(true);
            } else if (cls == kErrorClassFile || cls == kErrorClassInternal) {
                const std::string name = path ? filename(path->asString()) : std::string();
                platform::NotificationCenter::Default().Post(XWLogMessageNotification, nullptr,
                                                             "'" + name + "' " + text);
            }
        });
}

BatchRunner::~BatchRunner() {
    process_.waitUntilDone();
    platform::NotificationCenter::Default().RemoveObserver(token_);
}

OSErr BatchRunner::PrepareOutput(const std::vector<std::shared_ptr<ConvSpec>>& conversions,
                                 const std::string& destPath) {
    FSRef dest;
    if (OSErr err = XWQF::MakeRef(destPath, &dest)) return err;
    bool redither = false;
    for (const std::shared_ptr<ConvSpec>& conv : conversions) {
        if (!conv) continue;
        const std::string name = ConvNameFormatter::stringForObjectValue(conv->conversionName());
        if (!XWQF::FileExists(dest.path + "/" + name)) {
            if (OSErr err = XWQF::CreateDirectory(&dest, name, nullptr, nullptr)) return err;
        }
        redither = redither || conv->needsRedither();
    }
    if (redither) {
        if (OSErr err = fillDither()) return err;
    }
    return 0;
}

OSErr BatchRunner::Start(const std::vector<std::string>& inputs,
                         const std::vector<std::shared_ptr<ConvSpec>>& conversions,
                         const std::string& destPath, const EngineSettings& settings) {
    if (OSErr err = PrepareOutput(conversions, destPath)) return err;
    process_.startConversion(inputs, conversions, destPath, settings);
    return 0;
}

OSErr BatchRunner::StartSingleFile(const std::string& input,
                                   const std::shared_ptr<ConvSpec>& conversion,
                                   const std::string& destPath, const std::string& outputName,
                                   const EngineSettings& settings) {
    if (!conversion || !ConversionProcess::isSingleFileName(outputName)) return kParamErr;
    if (OSErr err = PrepareOutput({conversion}, destPath)) return err;
    return process_.convertSingleFile(input, conversion, destPath, outputName, settings);
}

OSErr BatchRunner::Wait() {
    process_.waitUntilDone();
    return process_.err();
}

OSErr RunBatch(ConversionProcess& process, const std::vector<std::string>& inputs,
               const std::vector<std::shared_ptr<ConvSpec>>& conversions,
               const std::string& destPath, const EngineSettings& settings) {
    BatchRunner runner(process);
    if (OSErr err = runner.Start(inputs, conversions, destPath, settings)) return err;
    return runner.Wait();
}
