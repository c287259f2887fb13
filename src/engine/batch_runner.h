// A batch without the interface, for tests and benchmarks (no user-facing
// command): what the application does around the batch thread. Before it
// starts: every conversion's folder is made inside the output folder and the
// dither table is filled when a conversion redithers. While it runs: failures
// are followed as the conversion log follows them, so that a code the message
// catalogue puts in class 0 (unknown), 2 (serious) or 4 stops the batch like a
// cancel, and classes 1 and 3 become log lines (warnings of the driver).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/conversion_process.h"

class BatchRunner {
public:
    // Follows the failures of this driver's batches from now on.
    explicit BatchRunner(ConversionProcess& process);
    // Waits for the batch and stops following.
    ~BatchRunner();
    BatchRunner(const BatchRunner&) = delete;
    BatchRunner& operator=(const BatchRunner&) = delete;

    // Prepares the output folder and starts the batch; 0, or the failure of
    // making a conversion's folder or the dither table (nothing is started then).
    OSErr Start(const std::vector<std::string>& inputs,
                const std::vector<std::shared_ptr<ConvSpec>>& conversions,
                const std::string& destPath, const EngineSettings& settings = EngineSettings());
    // The same for one input file and one conversion whose output takes
    // `outputName` (ConversionProcess::convertSingleFile); also -50 for an
    // output name that is not one file name.
    OSErr StartSingleFile(const std::string& input, const std::shared_ptr<ConvSpec>& conversion,
                          const std::string& destPath, const std::string& outputName,
                          const EngineSettings& settings = EngineSettings());
    // Waits for the batch to end; the driver's err().
    OSErr Wait();

    // True when the log stops the batch for a failure of this code.
    static bool StopsBatch(int code);

private:
    // Makes every conversion's folder inside the output folder and, when a
    // conversion redithers, the dither table; 0 or the first failure.
    static OSErr PrepareOutput(const std::vector<std::shared_ptr<ConvSpec>>& conversions,
                               const std::string& destPath);

    ConversionProcess& process_;
    platform::NotificationCenter::Token token_ = 0;
};

// Start and Wait in one.
OSErr RunBatch(ConversionProcess& process, const std::vector<std::string>& inputs,
               const std::vector<std::shared_ptr<ConvSpec>>& conversions,
               const std::string& destPath, const EngineSettings& settings = EngineSettings());
