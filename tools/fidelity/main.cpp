// korvalin-fidelity: compares how a MIDI file and the module made from it
// sound. The MIDI file is rendered by TiMidity (or by FluidSynth from a
// SoundFont), the module by libopenmpt, both mono at one rate; the tool
// reports the ratio of their lengths and the correlation of their loudness
// envelopes (RMS over 50 ms frames, at the best shift within +-1 s, so a
// short lead-in on either side does not count) and of their onsets.
#include <fcntl.h>
#include <libopenmpt/libopenmpt.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "Envelope.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
namespace fd = korvalin::fidelity;

constexpr double kFrameSeconds = 0.050;
constexpr double kMaxLagSeconds = 1.0;
// Longest rendering accepted from either side; a module whose order list
// loops would otherwise play forever.
constexpr double kMaxSeconds = 30.0 * 60.0;

const char kUsage[] =
    "Usage: korvalin-fidelity [options] MIDI XM\n"
    "Renders MIDI with TiMidity (or FluidSynth) and XM with libopenmpt (mono) and prints:\n"
    "  midi_seconds, xm_seconds    rendered lengths\n"
    "  duration_ratio              xm_seconds / midi_seconds\n"
    "  sounding_ratio              the same for the lengths up to the last audible frame\n"
    "  correlation, lag_seconds    loudness-envelope correlation at the best shift\n"
    "  onset_correlation           correlation of the rises in loudness at that shift\n"
    "Options:\n"
    "  --rate HZ              sample rate of both renderings (default 22050)\n"
    "  --config FILE          TiMidity configuration (default /etc/timidity/freepats.cfg)\n"
    "  --timidity PROGRAM     TiMidity program (default timidity, found on PATH)\n"
    "  --soundfont FILE       render MIDI with FluidSynth from this SoundFont instead\n"
    "                         (reverb and chorus off, as a module has neither)\n"
    "  --min-correlation X    exit status 3 when the correlation is below X\n"
    "  --max-duration-error X exit status 3 when |duration_ratio - 1| is above X\n"
    "Exit status: 0 measured (and within the limits given), 1 error, 2 usage, 3 out of limits.\n";

std::vector<std::uint8_t> readAll(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return {};
    }
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
}

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}
std::uint16_t le16(const std::uint8_t* p) {
    return std::uint16_t(p[0] | (p[1] << 8));
}

// Reads a PCM WAV file (8, 16 or 32-bit integer, any channel count; channels
// are mixed to mono) as floats in -1..1.
bool readWav(const std::string& path, std::vector<float>& samples, unsigned& rate,
             std::string& error) {
    const auto bytes = readAll(path, error);
    if (!error.empty()) return false;
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 ||
        std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        error = path + ": not a WAV file";
        return false;
    }
    unsigned channels = 0, bits = 0, format = 0;
    std::size_t pos = 12;
    while (pos + 8 <= bytes.size()) {
        const std::uint8_t* chunk = bytes.data() + pos;
        const std::size_t length = le32(chunk + 4);
        const std::size_t body = pos + 8;
        const std::size_t available = std::min(length, bytes.size() - body);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && available >= 16) {
            format = le16(chunk + 8);
            channels = le16(chunk + 10);
            rate = le32(chunk + 12);
            bits = le16(chunk + 22);
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (format != 1 || channels == 0 || (bits != 8 && bits != 16 && bits != 32)) {
                error = path + ": unsupported WAV sample format";
                return false;
            }
            const std::size_t frameBytes = channels * bits / 8;
            const std::uint8_t* p = bytes.data() + body;
            for (std::size_t f = 0; f + frameBytes <= available; f += frameBytes) {
                double sum = 0;
                for (unsigned c = 0; c < channels; ++c) {
                    const std::uint8_t* s = p + f + c * bits / 8;
                    if (bits == 8)
                        sum += (s[0] - 128) / 128.0;
                    else if (bits == 16)
                        sum += static_cast<std::int16_t>(le16(s)) / 32768.0;
                    else
                        sum += static_cast<std::int32_t>(le32(s)) / 2147483648.0;
                }
                samples.push_back(static_cast<float>(sum / channels));
            }
            return true;
        }
        pos = body + length + (length & 1);
    }
    error = path + ": WAV file without data";
    return false;
}

// The synthesiser's command line that renders `midi` into `wav`.
std::vector<std::string> synthCommand(const std::string& timidity, const std::string& config,
                                      const std::string& soundFont, const std::string& midi,
                                      const std::string& rateText, const std::string& wav) {
    if (!soundFont.empty())
        return {"fluidsynth", "-ni", "-q",  "-R", "0", "-C",      "0", "-r",
                rateText,     "-T",  "wav", "-F", wav, soundFont, midi};
    return {timidity, "-c", config, "-Ow", "--output-mono", "-s", rateText,
            "-o",     wav,  "-idq", midi};
}

// Runs the synthesiser on the MIDI file into a temporary WAV file and reads it.
bool renderMidi(const std::string& timidity, const std::string& config,
                const std::string& soundFont, const std::string& midi, unsigned rate,
                std::vector<float>& samples, std::string& error) {
    char folderTemplate[] = "/tmp/korvalin-fidelity-XXXXXX";
    if (!::mkdtemp(folderTemplate)) {
        error = std::string("temporary folder: ") + std::strerror(errno);
        return false;
    }
    const fs::path folder = folderTemplate;
    const std::string wav = (folder / "midi.wav").string();
    const std::string rateText = std::to_string(rate);
    std::vector<std::string> args = synthCommand(timidity, config, soundFont, midi, rateText, wav);
    const std::string program = args[0];
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // TiMidity's chatter would mix into the report; only its failures matter.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned =
        ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    bool ok = false;
    if (spawned != 0) {
        error = program + ": " + std::strerror(spawned);
    } else {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            error = program + " failed on " + midi + " (status " + std::to_string(status) + ")";
        } else {
            unsigned wavRate = 0;
            ok = readWav(wav, samples, wavRate, error);
            if (ok && wavRate != rate) {
                error =
                    program + " rendered at " + std::to_string(wavRate) + " Hz, not " + rateText;
                ok = false;
            }
        }
    }
    std::error_code ec;
    fs::remove_all(folder, ec);
    return ok;
}

void logToStderr(const char* message, void*) {
    if (message) std::fprintf(stderr, "libopenmpt: %s\n", message);
}

bool renderModule(const std::string& path, unsigned rate, std::vector<float>& samples,
                  std::string& error) {
    const auto bytes = readAll(path, error);
    if (!error.empty()) return false;
    int openError = 0;
    const char* openMessage = nullptr;
    openmpt_module* mod =
        openmpt_module_create_from_memory2(bytes.data(), bytes.size(), logToStderr, nullptr,
                                           nullptr, nullptr, &openError, &openMessage, nullptr);
    if (!mod) {
        error = path + ": libopenmpt cannot load it" +
                (openMessage ? std::string(": ") + openMessage : std::string());
        openmpt_free_string(openMessage);
        return false;
    }
    openmpt_free_string(openMessage);
    std::vector<std::int16_t> buffer(4096);
    const auto limit = static_cast<std::size_t>(kMaxSeconds * rate);
    for (;;) {
        const std::size_t got = openmpt_module_read_mono(mod, static_cast<std::int32_t>(rate),
                                                         buffer.size(), buffer.data());
        if (got == 0) break;
        for (std::size_t i = 0; i < got; ++i) samples.push_back(buffer[i] / 32768.0f);
        if (samples.size() > limit) {
            error = path + ": plays longer than 30 minutes";
            openmpt_module_destroy(mod);
            return false;
        }
    }
    openmpt_module_destroy(mod);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    unsigned rate = 22050;
    std::string config = "/etc/timidity/freepats.cfg", timidity = "timidity", soundFont;
    double minCorrelation = -2.0, maxDurationError = -1.0;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--rate" && hasValue) {
            rate = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--config" && hasValue) {
            config = argv[++i];
        } else if (arg == "--timidity" && hasValue) {
            timidity = argv[++i];
        } else if (arg == "--soundfont" && hasValue) {
            soundFont = argv[++i];
        } else if (arg == "--min-correlation" && hasValue) {
            minCorrelation = std::strtod(argv[++i], nullptr);
        } else if (arg == "--max-duration-error" && hasValue) {
            maxDurationError = std::strtod(argv[++i], nullptr);
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(stderr, "korvalin-fidelity: bad option '%s'\n\n%s", arg.c_str(), kUsage);
            return 2;
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 2 || rate < 8000 || rate > 192000) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    std::string error;
    std::vector<float> midiSamples, xmSamples;
    if (!renderMidi(timidity, config, soundFont, files[0], rate, midiSamples, error) ||
        !renderModule(files[1], rate, xmSamples, error)) {
        std::fprintf(stderr, "korvalin-fidelity: %s\n", error.c_str());
        return 1;
    }
    if (midiSamples.empty()) {
        std::fprintf(stderr, "korvalin-fidelity: %s rendered to nothing\n", files[0].c_str());
        return 1;
    }
    const auto frame = static_cast<std::size_t>(rate * kFrameSeconds);
    const auto midiEnv = fd::rmsEnvelope(midiSamples, frame);
    const auto xmEnv = fd::rmsEnvelope(xmSamples, frame);
    const double frameSeconds = static_cast<double>(frame) / rate;
    const auto best =
        fd::bestCorrelation(midiEnv, xmEnv, static_cast<long>(kMaxLagSeconds / frameSeconds + 0.5));
    const double midiSeconds = static_cast<double>(midiSamples.size()) / rate;
    const double xmSeconds = static_cast<double>(xmSamples.size()) / rate;
    const double midiSounding = fd::soundingSeconds(midiEnv, frameSeconds);
    const double xmSounding = fd::soundingSeconds(xmEnv, frameSeconds);
    const double ratio = xmSeconds / midiSeconds;
    std::printf("midi_seconds %.3f\n", midiSeconds);
    std::printf("xm_seconds %.3f\n", xmSeconds);
    std::printf("duration_ratio %.4f\n", ratio);
    std::printf("sounding_ratio %.4f\n", midiSounding > 0 ? xmSounding / midiSounding : 0.0);
    std::printf("correlation %.4f\n", best.correlation);
    std::printf("lag_seconds %.3f\n", static_cast<double>(best.lag) * frameSeconds);
    std::printf(
        "onset_correlation %.4f\n",
        fd::correlationAtLag(fd::onsetStrength(midiEnv), fd::onsetStrength(xmEnv), best.lag));
    bool within = true;
    if (best.correlation < minCorrelation) within = false;
    if (maxDurationError >= 0 && std::abs(ratio - 1.0) > maxDurationError) within = false;
    return within ? 0 : 3;
}
