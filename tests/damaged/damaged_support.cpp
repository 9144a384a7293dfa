#include "tests/damaged/damaged_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

#include "atoms/be.h"

extern char** environ;

namespace dmg {

namespace {

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() {
        if (::pipe2(fd, O_CLOEXEC) != 0) fail("pipe2");
    }
    ~Pipe() {
        for (int f : fd)
            if (f >= 0) ::close(f);
    }
    void close_end(int i) {
        ::close(fd[i]);
        fd[i] = -1;
    }
};

std::vector<std::string> environment_with(const std::vector<std::string>& env) {
    std::set<std::string> replaced;
    for (const std::string& e : env) replaced.insert(e.substr(0, e.find('=')));
    std::vector<std::string> out;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (replaced.count(entry.substr(0, entry.find('='))) == 0) out.push_back(entry);
    }
    out.insert(out.end(), env.begin(), env.end());
    return out;
}

constexpr bool kSanitizerBuild =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

constexpr const char* kMemoryCap = "2147483648";  // bytes; the tool needs a few MiB
constexpr const char* kMemoryCapMiB = "2048";

bool executable_in_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    }
    return false;
}

}  // namespace

Outcome spawn(const std::vector<std::string>& argv_words, int timeout_seconds, const std::vector<std::string>& env) {
    std::vector<std::string> argv_store = argv_words;
    std::vector<char*> argv;
    for (std::string& a : argv_store) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_store = environment_with(env);
    std::vector<char*> envp;
    for (std::string& e : env_store) envp.push_back(e.data());
    envp.push_back(nullptr);

    Pipe out_pipe, err_pipe;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe.fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe.fd[1], 2);
    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        errno = rc;
        fail("posix_spawnp " + argv_words.at(0));
    }
    out_pipe.close_end(1);
    err_pipe.close_end(1);

    Outcome result;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    pollfd fds[2] = {{out_pipe.fd[0], POLLIN, 0}, {err_pipe.fd[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    char buf[4096];
    while (open_count > 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 && !result.timed_out) {
            ::kill(pid, SIGKILL);
            result.timed_out = true;
        }
        const int wait_ms = result.timed_out ? -1 : static_cast<int>(left.count());
        const int ready = ::poll(fds, 2, wait_ms);
        if (ready < 0) {
            if (errno == EINTR) continue;
            fail("poll");
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0) {
        if (errno != EINTR) fail("waitpid");
    }
    if (result.timed_out)
        result.status = -1;
    else if (WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        result.status = 128 + WTERMSIG(wstatus);
    return result;
}

Outcome run_tool(const std::vector<std::string>& args) {
    std::vector<std::string> argv;
    std::vector<std::string> env;
    if (kSanitizerBuild) {
        // The sanitizer reserves far more address space than any cap would
        // allow; its own limits make an oversized allocation a report.
        const char* given = std::getenv("ASAN_OPTIONS");
        std::string options = given != nullptr ? given : "";
        if (!options.empty()) options += ":";
        options += std::string("max_allocation_size_mb=") + kMemoryCapMiB + ":hard_rss_limit_mb=" + kMemoryCapMiB;
        env.push_back("ASAN_OPTIONS=" + options);
    } else if (executable_in_path("prlimit")) {
        argv = {"prlimit", std::string("--as=") + kMemoryCap, "--"};
    }
    argv.push_back(MORVAK_BINARY);
    argv.insert(argv.end(), args.begin(), args.end());
    return spawn(argv, kTimeoutSeconds, env);
}

bool has_sanitizer_report(const std::string& err) {
    for (const char* word : {"runtime error", "AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer"}) {
        if (err.find(word) != std::string::npos) return true;
    }
    return false;
}

int line_count(const std::string& text) {
    if (!text.empty() && text.back() != '\n') return -1;
    int lines = 0;
    for (char c : text) lines += c == '\n' ? 1 : 0;
    return lines;
}

std::string ffmpeg_complaints(const std::string& path) {
    const Outcome o = spawn({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-f", "null", "-"}, 60);
    std::string text = o.err;
    if (o.status != 0 && text.empty()) text = "ffmpeg ended with status " + std::to_string(o.status) + "\n";
    static const std::regex address("0x[0-9a-fA-F]+");
    return std::regex_replace(text, address, "0x?");
}

std::vector<Packet> probe_packets(const std::string& path) {
    const Outcome o =
        spawn({"ffprobe", "-v", "error", "-show_entries", "packet=stream_index,pos,size", "-of", "csv=p=0", path}, 60);
    if (o.status != 0) throw std::runtime_error("ffprobe failed on " + path + ": " + o.err);
    std::vector<Packet> packets;
    std::istringstream lines(o.out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        Packet p;
        char c1 = 0, c2 = 0;
        std::istringstream fields(line);
        unsigned long long size = 0, pos = 0;
        // ffprobe lists the entries in its own order: stream_index, size, pos.
        if (!(fields >> p.stream >> c1 >> size >> c2 >> pos) || c1 != ',' || c2 != ',')
            throw std::runtime_error("unexpected ffprobe line: " + line);
        p.pos = pos;
        p.size = size;
        packets.push_back(p);
    }
    return packets;
}

std::vector<size_t> per_stream_if(const std::vector<Packet>& packets, size_t streams,
                                  const std::function<bool(const Packet&)>& keep) {
    std::vector<size_t> counts(streams, 0);
    for (const Packet& p : packets) {
        if (p.stream >= counts.size()) counts.resize(p.stream + 1, 0);
        if (keep(p)) ++counts[p.stream];
    }
    return counts;
}

std::vector<size_t> per_stream(const std::vector<Packet>& packets, size_t streams) {
    return per_stream_if(packets, streams, [](const Packet&) { return true; });
}

std::string gstreamer_missing() {
    static const std::string reason = [] {
        if (!executable_in_path("gst-launch-1.0") || !executable_in_path("gst-inspect-1.0"))
            return std::string("gst-launch-1.0 is not installed (gstreamer1.0-tools)");
        for (const char* element : {"qtdemux", "playbin", "fakesink", "avdec_h264", "avdec_aac"}) {
            if (spawn({"gst-inspect-1.0", element}, 60).status != 0)
                return std::string("GStreamer element ") + element +
                       " is missing (gstreamer1.0-plugins-base, -good, -libav)";
        }
        return std::string();
    }();
    return reason;
}

Outcome gstreamer_play(const std::string& path) {
    return spawn(
        {"gst-launch-1.0", "-q", "playbin", "uri=file://" + path, "video-sink=fakesink", "audio-sink=fakesink"}, 60);
}

namespace {

bool is_container(const std::string& type) {
    static const std::set<std::string> containers = {"moov", "trak", "mdia", "minf", "stbl", "mvex",
                                                     "moof", "traf", "edts", "dinf", "mfra"};
    return containers.count(type) != 0;
}

std::vector<Node> parse_level(const Bytes& bytes, uint64_t from, uint64_t to) {
    std::vector<Node> level;
    uint64_t at = from;
    while (to - at >= 8 && at < to) {
        Node n;
        n.start = at;
        n.type.assign(reinterpret_cast<const char*>(bytes.data() + at + 4), 4);
        uint64_t size = be::read_u32(bytes.data() + at);
        if (size == 1) {
            if (to - at < 16) break;
            size = be::read_u64(bytes.data() + at + 8);
            n.header = 16;
        } else if (size == 0) {
            size = to - at;
        }
        if (size < n.header) break;
        n.size = size;
        const uint64_t end = size > to - at ? to : at + size;
        if (is_container(n.type)) n.kids = parse_level(bytes, n.body(), end);
        level.push_back(std::move(n));
        at = end;
    }
    return level;
}

}  // namespace

std::vector<Node> parse_tree(const Bytes& bytes) { return parse_level(bytes, 0, bytes.size()); }

std::vector<const Node*> all_of(const std::vector<Node>& level, const std::string& type) {
    std::vector<const Node*> out;
    for (const Node& n : level)
        if (n.type == type) out.push_back(&n);
    return out;
}

const Node& find(const std::vector<Node>& top, const std::string& path) {
    const std::vector<Node>* level = &top;
    const Node* node = nullptr;
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        size_t index = 1;
        const size_t hash = part.find('#');
        if (hash != std::string::npos) {
            index = std::stoul(part.substr(hash + 1));
            part = part.substr(0, hash);
        }
        const std::vector<const Node*> matches = all_of(*level, part);
        if (index == 0 || matches.size() < index) throw std::runtime_error("no atom at " + path);
        node = matches[index - 1];
        level = &node->kids;
    }
    if (node == nullptr) throw std::runtime_error("empty atom path");
    return *node;
}

void put_u32(Bytes& bytes, uint64_t at, uint32_t value) { be::put_u32(bytes.data() + at, value); }
void put_u64(Bytes& bytes, uint64_t at, uint64_t value) { be::put_u64(bytes.data() + at, value); }
void put_type(Bytes& bytes, uint64_t at, const std::string& type) { std::memcpy(bytes.data() + at, type.data(), 4); }
uint32_t get_u32(const Bytes& bytes, uint64_t at) { return be::read_u32(bytes.data() + at); }

Bytes slice(const Bytes& bytes, uint64_t from, uint64_t to) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

std::string difference(const Bytes& expected, const Bytes& actual) {
    if (expected == actual) return "";
    const auto at = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    return "sizes " + std::to_string(expected.size()) + " and " + std::to_string(actual.size()) +
           ", first difference at offset " + std::to_string(at.first - expected.begin());
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Fixture& fixture(const std::string& name) {
    static std::map<std::string, std::unique_ptr<Fixture>> cache;
    std::unique_ptr<Fixture>& slot = cache[name];
    if (!slot) {
        auto f = std::make_unique<Fixture>();
        f->name = name;
        f->path = tool::test_data_dir() + "/" + name;
        f->bytes = tool::read_file(f->path);
        f->tree = parse_tree(f->bytes);
        f->packets = probe_packets(f->path);
        f->streams = per_stream(f->packets).size();
        slot = std::move(f);
    }
    return *slot;
}

}  // namespace dmg
