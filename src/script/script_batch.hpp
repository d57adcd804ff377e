// The script commands of the batch and the recorder: loading and saving their settings, the
// one-step batch, the recorder's result file and recorded values, and how batches run.
#pragma once

#include <string>
#include <string_view>

#include "batch/recorder.hpp"
#include "plot/figure_model.hpp"
#include "script/script_interpreter.hpp"

namespace zoniq {

// The recorder's scalar results as the record panel draws them.
RecordedResults RecordedResultsOf(const RecorderSetup& recorder);

// "load batch", "load singleshotbatch", "load record", "load allzoniq". Returns 0, or -1
// (reported).
int ProcessLoadBatchCommand(ScriptContext& context, std::string_view argument, const std::string& fileName,
                            std::string_view line);
// "save setting.batch", "save setting.record" and "save setting.allzoniq".
int ProcessSaveBatchSetting(ScriptContext& context, std::string_view what, std::string_view fileName,
                            std::string_view line);
// "save result.record": the recorder's result file, preceded by the script's header text.
int ProcessSaveRecorderResult(ScriptContext& context, std::string_view fileName, std::string_view header,
                              std::string_view line);
// "get recorder": the step numbers into the first letter of the target and the values of
// recorder parameter number `mode` into the second.
int ProcessGetRecorder(ScriptContext& context, std::string_view target, std::string_view line);
// "set batch.jobs N", "set batch.quiet 0|1", "set batch.startstep K" (counted from 1),
// "set batch.recordfile NAME" (recorder rows appended there after every step; "none" stops it).
int ProcessSetBatchCommand(ScriptContext& context, std::string_view option, std::string_view rest,
                           std::string_view line);

}  // namespace zoniq
