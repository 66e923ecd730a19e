// The benchmark runner: each workload through the library and as plain libldap code, against the same
// server in the same run, repeated after a warm-up, with a table of medians, ratios and peak memory. A run
// whose two sides report different checksums is refused: the numbers would compare different work.
//
//   varnel_bench --port N --bind-dn DN --password PW [--suffix S] [--reps 7] [--warmup 1]
//                [--modify-count 2000] [--workloads W1,W2,W3,W4,MEM]
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <unicode/locid.h>

#include "bench_common.hpp"
#include "library_side.hpp"
#include "plain_side.hpp"

namespace VarnelBench {
namespace {

// A refused result: the two sides did not do the same work.
struct Mismatch : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Options {
    Config config;
    std::string suffix = "dc=bench,dc=example";
    int reps = 7;
    int warmup = 1;
    std::set<std::string> workloads{"W1", "W2", "W3", "W4", "MEM"};
    std::optional<std::string> memoryChild;  // internal: run one side of W1 in this process and report
    std::vector<std::string> forwardedArgs;  // what a memory child is started with
};

[[noreturn]] void usage(const std::string& problem) {
    std::cerr << "varnel_bench: " << problem << "\n"
              << "usage: varnel_bench --port N --bind-dn DN --password PW [--host H] [--suffix S] [--reps N]\n"
              << "                    [--warmup N] [--modify-count N] [--workloads W1,W2,W3,W4,MEM]\n";
    std::exit(64);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) usage("missing value after " + arg);
            return argv[++i];
        };
        auto number = [&](const std::string& text) {
            try {
                std::size_t used = 0;
                const long n = std::stol(text, &used);
                if (used != text.size() || n < 0) throw std::invalid_argument(text);
                return n;
            } catch (const std::exception&) {
                usage("not a number: " + text);
            }
        };
        if (arg == "--child-memory") {
            o.memoryChild = value();
            continue;
        }
        const std::size_t before = static_cast<std::size_t>(i);
        if (arg == "--host") {
            o.config.host = value();
        } else if (arg == "--port") {
            o.config.port = static_cast<int>(number(value()));
        } else if (arg == "--bind-dn") {
            o.config.bindDn = value();
        } else if (arg == "--password") {
            o.config.password = value();
        } else if (arg == "--suffix") {
            o.suffix = value();
        } else if (arg == "--reps") {
            o.reps = static_cast<int>(number(value()));
        } else if (arg == "--warmup") {
            o.warmup = static_cast<int>(number(value()));
        } else if (arg == "--modify-count") {
            o.config.modifyCount = static_cast<std::size_t>(number(value()));
        } else if (arg == "--workloads") {
            o.workloads.clear();
            std::istringstream list(value());
            for (std::string w; std::getline(list, w, ',');) o.workloads.insert(w);
        } else {
            usage("unknown argument " + arg);
        }
        for (std::size_t k = before; k <= static_cast<std::size_t>(i); ++k) o.forwardedArgs.push_back(argv[k]);
    }
    if (o.config.bindDn.empty()) usage("--bind-dn is required");
    if (o.reps < 1) usage("--reps must be at least 1");
    if (o.config.modifyCount == 0 || o.config.modifyCount % 1000 != 0 || o.config.modifyCount > 100000) {
        usage("--modify-count must be a multiple of 1000, at most 100000");
    }
    o.config.peopleBase = "ou=people," + o.suffix;
    o.config.scaleBase10k = "ou=scale-10000," + o.suffix;
    o.config.scaleBase100k = "ou=scale-100000," + o.suffix;
    // Entry i has uid=p<i, six digits>: one substring per thousand entries picks the first modifyCount.
    std::ostringstream filter;
    filter << "(|";
    for (std::size_t k = 0; k < o.config.modifyCount / 1000; ++k) {
        filter << "(uid=p" << std::setw(3) << std::setfill('0') << k << "*)";
    }
    filter << ")";
    o.config.modifyFilter = filter.str();
    return o;
}

// ---- statistics and formatting ---------------------------------------------------------------------------

struct Series {
    std::vector<double> seconds;
    std::vector<double> cpuSeconds;
    void add(const Timing& t) {
        seconds.push_back(t.seconds);
        cpuSeconds.push_back(t.cpuSeconds);
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}
double minimum(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }
double maximum(const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); }

std::string duration(double seconds) {
    std::ostringstream out;
    out << std::fixed;
    if (seconds < 1e-3) {
        out << std::setprecision(1) << seconds * 1e6 << " µs";
    } else if (seconds < 1.0) {
        out << std::setprecision(2) << seconds * 1e3 << " ms";
    } else {
        out << std::setprecision(3) << seconds << " s";
    }
    return out.str();
}

std::string ratio(double r) {
    std::ostringstream out;
    out << std::fixed << std::setprecision(2) << r << "x";
    return out.str();
}

std::string mebibytes(long kib) {
    std::ostringstream out;
    out << std::fixed << std::setprecision(1) << static_cast<double>(kib) / 1024.0 << " MiB";
    return out.str();
}

std::string withThousands(std::size_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out.push_back(',');
        out.push_back(digits[i]);
    }
    return out;
}

struct Row {
    std::string workload;
    std::string side;
    Series series;
    std::optional<double> ratioTo;  // ratio to the row it is compared with
    std::string memory;
};

struct Target {
    std::string what;
    double limit;
    double measured;
};

void printTable(const std::vector<Row>& rows, const std::vector<Target>& targets, const std::string& notes) {
    std::cout << "\n| workload | side | median | min | max | ratio | client CPU (median) | peak RSS |\n"
              << "|---|---|---:|---:|---:|---:|---:|---:|\n";
    for (const Row& r : rows) {
        std::cout << "| " << r.workload << " | " << r.side << " | " << duration(median(r.series.seconds)) << " | "
                  << duration(minimum(r.series.seconds)) << " | " << duration(maximum(r.series.seconds)) << " | "
                  << (r.ratioTo ? ratio(*r.ratioTo) : "") << " | " << duration(median(r.series.cpuSeconds)) << " | "
                  << r.memory << " |\n";
    }
    if (!targets.empty()) {
        std::cout << "\n| target | limit | measured | |\n|---|---:|---:|---|\n";
        for (const Target& t : targets) {
            std::cout << "| " << t.what << " | " << ratio(t.limit) << " | " << ratio(t.measured) << " | "
                      << (t.measured <= t.limit ? "met" : "MISSED") << " |\n";
        }
    }
    if (!notes.empty()) std::cout << "\n" << notes;
    std::cout.flush();
}

// ---- running the two sides -------------------------------------------------------------------------------

void expectEqual(const std::string& workload, const Checksum& library, const Checksum& plain) {
    if (!(library == plain)) {
        throw Mismatch(workload + ": the checksums differ, the result is refused\n  library: " + library.str() +
                       "\n  libldap: " + plain.str());
    }
}

// Runs `warmup` untimed rounds, then `reps` timed rounds of both sides, alternating which side goes first so
// that neither always profits from a warmer server. Every round's checksums must be equal.
void runPair(const std::string& workload, const Options& o, const std::function<RunResult()>& library,
             const std::function<RunResult()>& plain, Series& librarySeries, Series& plainSeries,
             const std::function<void(const RunResult&, const char*)>& verify = {}) {
    std::cerr << workload << ": " << std::flush;
    Checksum last;
    for (int round = -o.warmup; round < o.reps; ++round) {
        RunResult a;
        RunResult b;
        if (round % 2 == 0) {
            a = library();
            if (verify) verify(a, "library");
            b = plain();
            if (verify) verify(b, "libldap");
        } else {
            b = plain();
            if (verify) verify(b, "libldap");
            a = library();
            if (verify) verify(a, "library");
        }
        expectEqual(workload, a.checksum, b.checksum);
        last = a.checksum;
        if (round >= 0) {
            librarySeries.add(a.timing);
            plainSeries.add(b.timing);
        }
        std::cerr << (round < 0 ? "w" : ".") << std::flush;
    }
    std::cerr << " " << last.str() << "\n";
}

// ---- W4 --------------------------------------------------------------------------------------------------

struct IndexLoopSeries {
    Series indexFirst, enumeratorFirst;        // fresh collection: the walk builds the entries
    Series plainFirst;                         // libldap's own count and DN walk on a fresh result
    Series indexRepeated, enumeratorRepeated;  // the same collection again
    std::uint64_t entries = 0;                 // what every walk saw
};

IndexLoopSeries runIndexLoop(LibrarySide& library, PlainSide& plain, const std::string& base, const Options& o) {
    IndexLoopSeries s;
    std::cerr << "W4 " << base << ": " << std::flush;
    std::optional<std::uint64_t> count;
    auto expectCount = [&](const RunResult& r) {
        if (!count) count = r.checksum.entries;
        if (r.checksum.entries != *count || *count == 0) {
            throw Mismatch("W4: the walks saw " + std::to_string(r.checksum.entries) + " and " +
                           std::to_string(*count) + " entries");
        }
    };
    for (int round = -o.warmup; round < o.reps; ++round) {
        RunResult index;
        RunResult enumerator;
        for (int k = 0; k < 2; ++k) {
            // One collection at a time, so the second search does not find the first one's memory in use.
            const bool indexTurn = (k == 0) == (round % 2 == 0);
            const auto entries = library.searchAll(base);
            settle();
            (indexTurn ? index : enumerator) =
                indexTurn ? LibrarySide::indexLoop(*entries) : LibrarySide::enumeratorWalk(*entries);
        }
        const RunResult reference = plain.countAndReadDns(base);
        expectCount(index);
        expectCount(enumerator);
        expectCount(reference);
        if (round >= 0) {
            s.indexFirst.add(index.timing);
            s.enumeratorFirst.add(enumerator.timing);
            s.plainFirst.add(reference.timing);
        }
        std::cerr << (round < 0 ? "w" : ".") << std::flush;
    }
    std::cerr << " entries=" << count.value_or(0) << "\n";
    s.entries = count.value_or(0);
    return s;
}

// Walks over built entries: the two sizes take turns round by round, so that a slow or fast spell of the
// machine falls on both alike and their ratio shows the scaling alone. About two million items make one
// timed sample at either size (a single walk over 10,000 entries takes only some 100 microseconds).
void runRepeatedWalks(LibrarySide& library, const std::string& smallBase, const std::string& largeBase,
                      const Options& o, IndexLoopSeries& small, IndexLoopSeries& large) {
    struct Size {
        std::shared_ptr<Varnel::Ldap::EntryCollection> entries;
        IndexLoopSeries* series;
        int walks;
    };
    std::vector<Size> sizes;
    for (auto [base, series] : {std::pair{smallBase, &small}, std::pair{largeBase, &large}}) {
        auto entries = library.searchAll(base);
        (void)LibrarySide::indexLoop(*entries);  // builds the entries
        const std::uint64_t perWalk = std::max<std::uint64_t>(series->entries, 1);
        const auto walks = static_cast<int>(std::max<std::uint64_t>(1, 2'000'000 / perWalk));
        sizes.push_back(Size{std::move(entries), series, walks});
    }
    std::cerr << "W4 repeated walks: " << std::flush;
    const int repeated = std::max(o.reps, 15);
    for (int round = -o.warmup; round < repeated; ++round) {
        for (Size& size : sizes) {
            RunResult index;
            RunResult enumerator;
            if (round % 2 == 0) {
                index = LibrarySide::indexLoop(*size.entries, size.walks);
                enumerator = LibrarySide::enumeratorWalk(*size.entries, size.walks);
            } else {
                enumerator = LibrarySide::enumeratorWalk(*size.entries, size.walks);
                index = LibrarySide::indexLoop(*size.entries, size.walks);
            }
            expectEqual("W4 (same objects in the same order)", index.checksum, enumerator.checksum);
            if (index.checksum.entries != size.series->entries) {
                throw Mismatch("W4: a repeated walk saw " + std::to_string(index.checksum.entries) + " entries");
            }
            if (round >= 0) {
                size.series->indexRepeated.add(index.timing);
                size.series->enumeratorRepeated.add(enumerator.timing);
            }
        }
        std::cerr << (round < 0 ? "w" : ".") << std::flush;
    }
    std::cerr << "\n";
}

// ---- peak memory -----------------------------------------------------------------------------------------

struct ChildResult {
    long maxRssKib = 0;
    std::string output;
};

// Runs this program again with `--child-memory side`: a fresh process that does only that side's W1, so
// its peak resident size is that side's alone.
ChildResult runMemoryChild(const Options& o, const std::string& side) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    std::vector<std::string> args{"/proc/self/exe", "--child-memory", side};
    args.insert(args.end(), o.forwardedArgs.begin(), o.forwardedArgs.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::cout.flush();
    std::cerr.flush();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (pid == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    ChildResult result;
    char buffer[512];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (n < 0) {
            if (errno == EINTR) continue;
            break;
        }
        result.output.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) throw std::runtime_error(std::string("wait4: ") + std::strerror(errno));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("the memory run of " + side + " failed: " + result.output);
    }
    result.maxRssKib = usage.ru_maxrss;
    return result;
}

int memoryChild(const Options& o) {
    const std::string& side = *o.memoryChild;
    Checksum checksum;
    if (side == "library") {
        LibrarySide library(o.config);
        checksum = library.readAll().checksum;
    } else if (side == "libldap") {
        PlainSide plain(o.config);
        checksum = plain.readAll().checksum;
    } else if (side == "baseline") {
        // Connected, nothing read: what both sides start from.
        PlainSide plain(o.config);
        LibrarySide library(o.config);
    } else {
        usage("unknown memory side " + side);
    }
    std::cout << checksum.str() << std::flush;
    return 0;
}

long medianKib(std::vector<long> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// ---- the whole run ---------------------------------------------------------------------------------------

int run(const Options& o) {
    LibrarySide library(o.config);
    PlainSide plain(o.config);
    std::vector<Row> rows;
    std::vector<Target> targets;
    std::ostringstream notes;
    const auto want = [&](const char* w) { return o.workloads.count(w) != 0; };

    std::map<std::string, std::string> memoryColumn;
    std::optional<double> memoryRatio;
    if (want("MEM")) {
        std::cerr << "MEM: " << std::flush;
        std::vector<long> base, lib, ldap;
        for (int i = 0; i < 3; ++i) {
            base.push_back(runMemoryChild(o, "baseline").maxRssKib);
            const ChildResult a = runMemoryChild(o, "library");
            const ChildResult b = runMemoryChild(o, "libldap");
            if (a.output != b.output) {
                throw Mismatch("W1 peak memory: the checksums differ, the result is refused\n  library: " +
                               a.output + "\n  libldap: " + b.output);
            }
            lib.push_back(a.maxRssKib);
            ldap.push_back(b.maxRssKib);
            std::cerr << "." << std::flush;
        }
        std::cerr << "\n";
        const long b = medianKib(base), l = medianKib(lib), p = medianKib(ldap);
        memoryRatio = static_cast<double>(l) / static_cast<double>(p);
        memoryColumn["library"] = mebibytes(l) + " (" + ratio(*memoryRatio) + ")";
        memoryColumn["libldap"] = mebibytes(p);
        notes << "Peak RSS: median of 3 fresh processes each, W1 only. A process that only connects peaks at "
              << mebibytes(b) << "; above that, the library uses " << mebibytes(l - b) << " and libldap "
              << mebibytes(p - b) << " (" << ratio(static_cast<double>(l - b) / static_cast<double>(p - b))
              << ").\n";
    }

    std::size_t people = 0;
    if (want("W1") || want("MEM")) {
        Row lib{"W1 read-all", "Varnel::Ldap", {}, {}, memoryColumn["library"]};
        Row ldap{"W1 read-all", "libldap", {}, 1.0, memoryColumn["libldap"]};
        if (want("W1")) {
            runPair("W1", o, [&] { return library.readAll(); }, [&] { return plain.readAll(); }, lib.series,
                    ldap.series);
            lib.ratioTo = median(lib.series.seconds) / median(ldap.series.seconds);
            targets.push_back({"W1 read-all time, library / libldap", 1.25, *lib.ratioTo});
            const RunResult once = plain.readAll();
            people = once.checksum.entries;
            notes << "W1 reads " << withThousands(once.checksum.entries) << " entries, "
                  << withThousands(once.checksum.attributes) << " attributes, "
                  << withThousands(once.checksum.values) << " values, " << withThousands(once.checksum.bytes)
                  << " bytes (DNs, names and values).\n";
            rows.push_back(lib);
            rows.push_back(ldap);
        }
        if (memoryRatio) targets.push_back({"W1 peak RSS, library / libldap", 3.0, *memoryRatio});
    }
    if (want("W1")) {
        Row search{"W1 of which the search alone", "libldap", {}, {}, ""};
        for (int i = 0; i < o.reps; ++i) search.series.add(plain.searchOnly());
        rows.push_back(search);
    }

    if (want("W2")) {
        Row lib{"W2 sort by sn, givenName", "Varnel::Ldap", {}, {}, ""};
        Row ldap{"W2 sort by sn, givenName", "libldap + ICU", {}, 1.0, ""};
        runPair("W2", o, [&] { return library.sortByName(); }, [&] { return plain.sortByName(); }, lib.series,
                ldap.series);
        lib.ratioTo = median(lib.series.seconds) / median(ldap.series.seconds);
        targets.push_back({"W2 sort time end to end, library / libldap", 2.0, *lib.ratioTo});
        rows.push_back(lib);
        rows.push_back(ldap);
    }

    if (want("W3")) {
        const std::string token = std::to_string(getpid()) + "-" + std::to_string(time(nullptr));
        std::uint64_t generation = 0;
        Row lib{"W3 modify " + withThousands(o.config.modifyCount) + " descriptions", "Varnel::Ldap", {}, {}, ""};
        Row ldap{lib.workload, "libldap", {}, 1.0, ""};
        const auto verify = [&](const RunResult& r, const char* side) {
            const std::size_t written = plain.countWritten(token, generation);
            if (r.checksum.entries != o.config.modifyCount || written != o.config.modifyCount) {
                throw Mismatch(std::string("W3 (") + side + "): " + std::to_string(r.checksum.entries) +
                               " replacements made, " + std::to_string(written) + " found on the server, " +
                               std::to_string(o.config.modifyCount) + " expected");
            }
        };
        // W3's times are the server's round trips, which move the most from run to run: three times the
        // repetitions of the other workloads.
        Options w3 = o;
        w3.reps = o.reps * 3;
        runPair(
            "W3", w3, [&] { return library.modify(token, ++generation); },
            [&] { return plain.modify(token, ++generation); }, lib.series, ldap.series, verify);
        lib.ratioTo = median(lib.series.seconds) / median(ldap.series.seconds);
        targets.push_back({"W3 modify time, library / libldap", 1.05, *lib.ratioTo});
        rows.push_back(lib);
        rows.push_back(ldap);
        notes << "W3 times the walk and the writes after the search has returned; after every run a fresh "
                 "search checks that the server holds each new text. W3 runs "
              << w3.reps << " times per side.\n";
    }

    if (want("W4")) {
        IndexLoopSeries small = runIndexLoop(library, plain, o.config.scaleBase10k, o);
        IndexLoopSeries large = runIndexLoop(library, plain, o.config.scaleBase100k, o);
        runRepeatedWalks(library, o.config.scaleBase10k, o.config.scaleBase100k, o, small, large);
        const auto add = [&](const std::string& what, const Series& index, const Series& enumerator) {
            Row i{"W4 " + what, "index loop", index, median(index.seconds) / median(enumerator.seconds), ""};
            Row e{"W4 " + what, "enumerator", enumerator, 1.0, ""};
            rows.push_back(i);
            rows.push_back(e);
            return *i.ratioTo;
        };
        const double firstLarge = add("100,000 entries, first walk", large.indexFirst, large.enumeratorFirst);
        rows.push_back(Row{"W4 100,000 entries, first walk", "libldap: count, then ldap_get_dn each", large.plainFirst,
                           {}, ""});
        const double repeatedLarge =
            add("100,000 entries, repeated walk", large.indexRepeated, large.enumeratorRepeated);
        add("10,000 entries, first walk", small.indexFirst, small.enumeratorFirst);
        rows.push_back(Row{"W4 10,000 entries, first walk", "libldap: count, then ldap_get_dn each", small.plainFirst,
                           {}, ""});
        add("10,000 entries, repeated walk", small.indexRepeated, small.enumeratorRepeated);
        targets.push_back({"W4 index loop / enumerator over the same collection, 100,000 entries", 1.3, repeatedLarge});
        targets.push_back({"W4 index loop 100,000 / 10,000 entries, over the same collection", 11.0,
                           median(large.indexRepeated.seconds) / median(small.indexRepeated.seconds)});
        notes << "W4 compares the library with itself. A first walk runs on a fresh search result and builds "
                 "the entries (the search is not timed); a repeated walk runs over entries already built. The "
                 "libldap rows do what a first index loop needs from libldap (the count, then one DN per entry) "
                 "and show how that part alone scales from 10,000 to 100,000 entries: "
              << ratio(median(large.plainFirst.seconds) / median(small.plainFirst.seconds)) << " wall, "
              << ratio(median(large.plainFirst.cpuSeconds) / median(small.plainFirst.cpuSeconds))
              << " client CPU; the library's first index loop: "
              << ratio(median(large.indexFirst.cpuSeconds) / median(small.indexFirst.cpuSeconds))
              << " client CPU.\n"
              << "On a fresh result the index loop's first get_Count walks the chain on its own (a count builds "
                 "no entry); the build that follows reuses what that walk found but cannot overlap it, which the "
                 "enumerator's build does with its own walk. First walk, index loop / enumerator, 100,000 "
                 "entries: "
              << ratio(firstLarge) << "; index loop 100,000 / 10,000 entries: "
              << ratio(median(large.indexFirst.seconds) / median(small.indexFirst.seconds))
              << " (libldap's count and DNs alone: "
              << ratio(median(large.plainFirst.seconds) / median(small.plainFirst.seconds)) << ").\n";
    }

    // About() gives vendor, product and version on three lines.
    std::istringstream about(library.about());
    std::string vendor, product, version;
    std::getline(about, vendor);
    std::getline(about, product);
    std::getline(about, version);
    std::cout << "Versions: " << product << " " << version << "; " << plainVersions() << "\n";
    std::cout << "N = " << (people ? withThousands(people) : std::string("?")) << " entries in "
              << o.config.peopleBase << "; " << o.reps << " timed runs per side after " << o.warmup
              << " warm-up run(s); median, min and max are wall-clock times; the ratio is to the row below "
                 "it (libldap, or the enumerator in W4).\n";
    printTable(rows, targets, notes.str());
    return 0;
}

}  // namespace
}  // namespace VarnelBench

int main(int argc, char** argv) {
    using namespace VarnelBench;
    try {
        const Options o = parse(argc, argv);
        // Both sides order under the same collation: the default locale is fixed here rather than left to
        // the environment the benchmark happens to run in.
        UErrorCode status = U_ZERO_ERROR;
        icu::Locale::setDefault(icu::Locale("en", "US"), status);
        if (U_FAILURE(status)) throw std::runtime_error("cannot set the ICU default locale");
        if (o.memoryChild) return memoryChild(o);
        return run(o);
    } catch (const Mismatch& e) {
        std::cerr << "\nvarnel_bench: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "\nvarnel_bench: " << e.what() << "\n";
        return 1;
    }
}
