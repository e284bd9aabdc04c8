// The converter's run: banner, settings and patch map, then every input file
// through the conversion stages.
#include "driver/Driver.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "base/Alloc.h"
#include "base/ByteIO.h"
#include "driver/Options.h"
#include "driver/PatchMap.h"
#include "driver/Paths.h"
#include "midi/MidiReader.h"
#include "patches/Patches.h"
#include "score/Score.h"
#include "xm/Xm.h"

namespace korvalin {
namespace {

constexpr const char* kBanner = "KORVALIN version 0.4.0 [17:19:55 Jul 24 1998]";
constexpr const char* kOptionFile = "./korvalin.cfg";
constexpr const char* kPatchMapFile = "./patch.cfg";

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;

std::string_view asText(const FileBytes& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Options from korvalin.cfg, then from the command line (so the command line
// wins), then the patch map, whose paths use the final sample folder.
bool loadSettings(const std::vector<std::string>& args, RunState& run, Console& out) {
    ConversionSettings& settings = run.settings;
    FileBytes bytes;
    int errorNumber = 0;
    // A missing option file is not an error.
    if (readWholeFile(kOptionFile, bytes, errorNumber)) {
        const std::vector<std::string> words = splitOptionText(asText(bytes));
        parseOptions(words, settings, out);
    }
    if (args.size() > 1) parseOptions(std::span(args).subspan(1), settings, out);
    checkSettings(settings, out);

    if (!readWholeFile(kPatchMapFile, bytes, errorNumber)) {
        out.systemError(kPatchMapFile, errorNumber);
        return false;
    }
    readPatchMap(asText(bytes), settings.sampleDir, run.patchMap, out);

    if (settings.inputFiles.empty()) {
        out.print("%s", kUsageText);
        return false;
    }
    return true;
}

// The module is written to a temporary file in the output folder and renamed
// over the output name only when it is complete, so a failed conversion never
// destroys an earlier file of that name nor leaves a broken one behind.
class PendingOutput {
  public:
    PendingOutput() = default;
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    ~PendingOutput() { discard(); }

    // Fails with a system error number where creating the output itself would
    // fail: a missing or unwritable folder, a read-only file, a folder of that name.
    bool create(const std::string& name, int& errorNumber) {
        struct stat existing {};
        const bool exists = ::stat(name.c_str(), &existing) == 0;
        if (exists && S_ISDIR(existing.st_mode)) {
            errorNumber = EISDIR;
            return false;
        }
        if (exists && ::access(name.c_str(), W_OK) != 0) {
            errorNumber = errno;
            return false;
        }
        if (exists && !S_ISREG(existing.st_mode)) {
            // Devices and pipes (such as /dev/null) are written directly: there
            // is no earlier module to keep, and they must not be replaced.
            file_ = std::fopen(name.c_str(), "wb");
            if (!file_) errorNumber = errno;
            return file_ != nullptr;
        }
        name_ = name;
        struct stat link {};
        if (exists && ::lstat(name.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            // A link keeps pointing at the module: the file it names is replaced.
            if (char* resolved = ::realpath(name.c_str(), nullptr)) {
                name_ = resolved;
                std::free(resolved);
            }
        }
        const PathParts parts = splitPath(name_);
        const std::string folder = parts.directory.empty() ? std::string("./") : parts.directory;
        static unsigned counter = 0;
        int fd = -1;
        while (fd < 0) {
            temp_ = folder + ".korvalin-" + std::to_string(::getpid()) + "-" +
                    std::to_string(counter++) + ".tmp";
            fd = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST) {
                errorNumber = errno;
                temp_.clear();
                return false;
            }
        }
        // A replaced file keeps its permissions.
        if (exists) static_cast<void>(::fchmod(fd, existing.st_mode & 07777));
        file_ = ::fdopen(fd, "wb");
        if (!file_) {
            errorNumber = errno;
            ::close(fd);
            discard();
            return false;
        }
        // Only the temporary file gets the large buffer: a device keeps the
        // stream's own, so a write it refuses is met where it always was.
        buffered_ = buffer_.attachTo(file_);
        setAbortCleanupPath(temp_.c_str());
        return true;
    }

    std::FILE* file() const { return file_; }
    // Whether the output has the large buffer, which large writes may pass.
    bool buffered() const { return buffered_; }

    // Flushes and closes the temporary file and puts it in place.
    bool commit(int& errorNumber) {
        bool ok = true;
        if (std::fflush(file_) != 0) {
            errorNumber = errno;
            ok = false;
        }
        const int closed = std::fclose(file_);
        file_ = nullptr;
        if (ok && closed != 0) {
            errorNumber = errno;
            ok = false;
        }
        if (ok && !temp_.empty() && std::rename(temp_.c_str(), name_.c_str()) != 0) {
            errorNumber = errno;
            ok = false;
        }
        if (ok) {
            temp_.clear();
            setAbortCleanupPath("");
        }
        return ok;
    }

    // Closes and removes the temporary file, if there is one.
    void discard() {
        if (file_) std::fclose(file_);
        file_ = nullptr;
        if (!temp_.empty()) {
            std::remove(temp_.c_str());
            setAbortCleanupPath("");
        }
        temp_.clear();
    }

  private:
    std::string name_;
    std::string temp_;
    StreamBuffer buffer_;  // outlives file_: the destructor closes it first
    std::FILE* file_ = nullptr;
    bool buffered_ = false;
};

int convertFiles(RunState& run, Console& out) {
    const ConversionSettings& settings = run.settings;
    FileState file;
    bool everyFileConverted = true;
    // The -name text goes to the first file that is really converted; a file
    // skipped before its stages run neither uses it nor passes on its own name.
    bool nameTextUsed = false;

    for (std::size_t i = 0; i < settings.inputFiles.size(); ++i) {
        const std::string& input = settings.inputFiles[i];
        out.print("\n\n");
        if (settings.hasModuleName && !nameTextUsed) file.header.moduleName = settings.moduleName;
        const std::string outputName = makeOutputName(settings, input, i, file.header.moduleName);
        out.print("Converting %s to %s\n", input.c_str(), outputName.c_str());

        FileBytes bytes;
        int errorNumber = 0;
        if (!readWholeFile(input, bytes, errorNumber)) {
            out.systemError(input, errorNumber);
            everyFileConverted = false;
            resetFileState(run, file);
            continue;
        }
        PendingOutput output;
        if (!output.create(outputName, errorNumber)) {
            out.systemError(outputName, errorNumber);
            everyFileConverted = false;
            resetFileState(run, file);
            continue;
        }
        nameTextUsed = true;

        ByteReader reader(bytes);
        FileSink sink(output.file(), output.buffered());
        Status status = readMidiFile(run, reader, file, out, makeTrackSummarizer);
        // The events hold all that the later stages need.
        FileBytes().swap(bytes);
        if (status == Status::Ok) status = runStagesAfterReading(run, file, sink, out);
        if (status == Status::Abort) abortProcess(out);
        if (status == Status::Ok && !sink.ok()) {
            out.systemError(outputName, sink.error());
            status = Status::Failed;
        }
        if (status == Status::Ok && !output.commit(errorNumber)) {
            out.systemError(outputName, errorNumber);
            status = Status::Failed;
        }
        // A failed file ends the whole run; the earlier output stays untouched.
        if (status != Status::Ok) return kExitFailed;
        resetFileState(run, file);
    }
    return everyFileConverted ? kExitOk : kExitFailed;
}

}  // namespace

// The stages in their fixed order, each only after the previous one succeeded.
Status runStages(RunState& run, FileState& file, ByteReader& in, ByteSink& sink, Console& out) {
    const Status status = readMidiFile(run, in, file, out, makeTrackSummarizer);
    return status == Status::Ok ? runStagesAfterReading(run, file, sink, out) : status;
}

const Stage kStagesAfterReading[7] = {
    {"scan", [](RunState& r, FileState& f, ByteSink&, Console& o) { return scanTracks(r, f, o); }},
    {"timing",
     [](RunState& r, FileState& f, ByteSink&, Console& o) { return chooseTiming(r, f, o); }},
    {"load patches",
     [](RunState& r, FileState& f, ByteSink&, Console& o) { return initPatches(r, f, o); }},
    {"pre-convert",
     [](RunState& r, FileState& f, ByteSink&, Console& o) { return preconvertTracks(r, f, o); }},
    {"header + notes",
     [](RunState& r, FileState& f, ByteSink&, Console& o) { return fillModuleHeader(r, f, o); }},
    {"write score",
     [](RunState& r, FileState& f, ByteSink& s, Console& o) { return writeScore(r, f, s, o); }},
    {"write patches",
     [](RunState& r, FileState& f, ByteSink& s, Console& o) { return writePatches(r, f, s, o); }},
};

Status runStagesAfterReading(RunState& run, FileState& file, ByteSink& sink, Console& out) {
    for (const Stage& stage : kStagesAfterReading) {
        const Status status = stage.run(run, file, sink, out);
        if (status != Status::Ok) return status;
    }
    return Status::Ok;
}

int runConverter(const std::vector<std::string>& args, StdConsole& console) {
    console.print("%s", kBanner);
    RunState run;
    if (!loadSettings(args, run, console)) return kExitFailed;
    console.makeUnbuffered();
    return convertFiles(run, console);
}

}  // namespace korvalin
