#include "tools/simulator/html_report.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <map>

#include "calibration/published_values.h"
#include "calibration/sample_service.h"
#include "platform/emulation/state_names.h"

namespace sim {

namespace {

// Sizes the firmware reader asks for.
constexpr DWORD calibrateBytes = 4;
constexpr DWORD alrCurveBytes = 40;

// Text for the page from any bytes. What is not UTF-8, and the control characters that
// HTML and XML forbid, become U+FFFD: hostile input stays text of a well-formed page.
std::string Escape(std::string_view text) {
    // By length: the lead byte's bits, and the smallest code, so that no overlong form passes.
    static constexpr uint8_t leadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    static constexpr uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80             ? 1
                              : (lead & 0xE0) == 0xC0 ? 2
                              : (lead & 0xF0) == 0xE0 ? 3
                              : (lead & 0xF8) == 0xF0 ? 4
                                                      : 0;
        uint32_t code = lead & leadBits[length];
        bool whole = length != 0 && i + length <= text.size();
        for (size_t k = 1; whole && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            whole = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3F);
        }
        const bool allowed = whole && code >= smallest[length] && code <= 0x10FFFF &&
                             (code < 0xD800 || code >= 0xE000) &&
                             (code >= 0x20 || code == '\t' || code == '\n' || code == '\r') &&
                             (code < 0x7F || code >= 0xA0) && code != 0xFFFE && code != 0xFFFF;
        if (!allowed) {
            out += "\xEF\xBF\xBD";  // one for a whole sequence, a lone surrogate among them
            i += whole ? length : 1;
            continue;
        }
        switch (code) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

// Steps of 1, 2 or 5 times a power of ten, at least `rough` apart.
double NiceStep(double rough) {
    if (rough <= 0) return 1;
    const double power = std::pow(10, std::floor(std::log10(rough)));
    for (double factor : {1.0, 2.0, 5.0})
        if (rough <= factor * power) return factor * power;
    return 10 * power;
}

std::string Plural(size_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// Why a firmware variable of `size` bytes was not read.
std::string ReadFailure(const emu::FirmwareRead& read, DWORD size) {
    if (read.error == ERROR_ENVVAR_NOT_FOUND) return "absent from the firmware (error 203)";
    if (read.error == ERROR_PRIVILEGE_NOT_HELD) return "not read: privilege not held (error 1314)";
    if (read.bytes != 0)
        return "holds " + std::to_string(read.bytes) + " bytes, not the " + std::to_string(size) + " read";
    return "not read: error " + std::to_string(read.error);
}

const char* StateColour(DWORD state) {
    switch (state) {
        case SERVICE_RUNNING: return "#2da44e";
        case SERVICE_STOPPED: return "#6e7781";
        default: return "#d4a72c";  // pending
    }
}

const char* EventColour(WORD type) {
    switch (type) {
        case EVENTLOG_ERROR_TYPE: return "#cf222e";
        case EVENTLOG_WARNING_TYPE: return "#bf8700";
        default: return "#0969da";
    }
}

constexpr const char* style = R"(
body{font:14px/1.45 system-ui,"Segoe UI",Helvetica,Arial,sans-serif;color:#1f2328;max-width:1000px;margin:20px auto;padding:0 16px}
h1{font-size:20px;margin:0 0 4px}
h2{font-size:16px;margin:26px 0 8px;padding-bottom:3px;border-bottom:1px solid #d0d7de}
h3{font-size:13px;font-weight:600;margin:10px 0 4px}
code,pre,.hex{font-family:ui-monospace,Menlo,Consolas,monospace;font-size:12px}
.description{margin:0 0 10px;color:#57606a}
.summary span{margin-right:22px}
.outcome{font-weight:600;color:#fff;padding:2px 10px;border-radius:11px}
.outcome.published{background:#1a7f37}.outcome.not-published{background:#cf222e}
table{border-collapse:collapse}
th,td{text-align:left;vertical-align:top;padding:2px 14px 2px 0}
.moments td,.moments th{border-top:1px solid #eaeef2;padding:3px 12px 3px 4px}
.moments td:first-child,.state,.attempt{white-space:nowrap}
.missing{color:#cf222e}
.note,.minor{color:#57606a}
.no-curve{font-weight:600}
svg{max-width:100%;height:auto}
svg text{font:11px system-ui,"Segoe UI",Helvetica,Arial,sans-serif;fill:#1f2328}
.state,.event,.log{border-left:4px solid;padding-left:5px;margin:1px 0}
.log{border-color:#8250df}
.attempt.failed{color:#cf222e}.attempt.published{color:#1a7f37}
)";

// ---- The ALR curve -----------------------------------------------------------------

struct Box {
    double left, top, right, bottom;
    bool Overlaps(const Box& other) const {
        return left < other.right && other.left < right && top < other.bottom && other.top < bottom;
    }
};

std::string CurvePlot(const std::vector<AlrPair>& pairs) {
    constexpr double width = 720, height = 330, left = 70, right = 700, top = 16, bottom = 280;
    constexpr double pad = 14;      // between the frame and the outermost points
    constexpr double zeroGap = 44;  // from lux 0 at the axis start to the logarithmic part
    bool zero = false;
    DWORD smallest = 0, largest = 1, highest = 0;
    for (const AlrPair& pair : pairs) {
        if (pair.lux == 0)
            zero = true;
        else if (smallest == 0 || pair.lux < smallest)
            smallest = pair.lux;
        largest = std::max(largest, pair.lux);
        highest = std::max(highest, pair.value);
    }
    const int firstDecade = smallest ? static_cast<int>(std::floor(std::log10(smallest))) : 0;
    const int lastDecade = std::max(firstDecade + 1, static_cast<int>(std::ceil(std::log10(largest))));
    const double logLeft = left + pad + (zero ? zeroGap : 0);
    auto decadeX = [&](double decade) {
        return logLeft + (decade - firstDecade) / (lastDecade - firstDecade) * (right - pad - logLeft);
    };
    auto x = [&](DWORD lux) { return lux == 0 ? left + pad : decadeX(std::log10(lux)); };
    const double step = NiceStep(highest / 5.0);
    const double yTop = std::max(step, std::ceil(highest / step) * step);
    auto y = [&](double value) { return bottom - value / yTop * (bottom - top - pad); };

    std::string svg = "<svg class=\"curve\" width=\"" + Number(width) + "\" height=\"" + Number(height) +
                      "\" viewBox=\"0 0 " + Number(width) + " " + Number(height) +
                      "\" role=\"img\" aria-label=\"ALR curve: response value against lux\">\n";
    auto line = [&](double x1, double y1, double x2, double y2, const char* colour) {
        svg += "<line x1=\"" + Number(x1) + "\" y1=\"" + Number(y1) + "\" x2=\"" + Number(x2) + "\" y2=\"" +
               Number(y2) + "\" stroke=\"" + colour + "\"/>\n";
    };
    auto text = [&](double at, double baseline, const std::string& words, const char* anchor,
                    const std::string& extra = "") {
        svg += "<text x=\"" + Number(at) + "\" y=\"" + Number(baseline) + "\" text-anchor=\"" + anchor +
               "\"" + extra + ">" + Escape(words) + "</text>\n";
    };
    for (int decade = firstDecade; decade <= lastDecade; ++decade) {
        line(decadeX(decade), top, decadeX(decade), bottom, "#d0d7de");
        text(decadeX(decade), bottom + 16, std::to_string(static_cast<long long>(std::pow(10, decade))),
             "middle");
        for (int minor = 2; minor < 10 && decade < lastDecade; ++minor) {
            const double at = decadeX(decade + std::log10(minor));
            line(at, top, at, bottom, "#f0f2f4");
        }
    }
    for (double value = 0; value <= yTop; value += step) {
        line(left, y(value), right, y(value), value == 0 ? "#57606a" : "#eaeef2");
        text(left - 6, y(value) + 4, std::to_string(static_cast<long long>(value)), "end");
    }
    line(left, top, left, bottom, "#57606a");
    if (zero) {
        // Lux 0 has no place on a logarithmic scale: it stands at the axis start, apart.
        text(left + pad, bottom + 16, "0", "middle");
        const double gapAt = left + pad + zeroGap / 2;
        line(gapAt - 5, bottom + 5, gapAt - 1, bottom - 5, "#57606a");
        line(gapAt + 1, bottom + 5, gapAt + 5, bottom - 5, "#57606a");
    }
    text((left + right) / 2, bottom + 38, "lux (logarithmic)", "middle");
    text(16, (top + bottom) / 2, "response value", "middle",
         " transform=\"rotate(-90 16 " + Number((top + bottom) / 2) + ")\"");

    std::string points;
    for (const AlrPair& pair : pairs) points += Number(x(pair.lux)) + "," + Number(y(pair.value)) + " ";
    svg += "<polyline points=\"" + points + "\" fill=\"none\" stroke=\"#0969da\" stroke-width=\"2\"/>\n";

    // Each label takes the first place around its point that is clear of every point and
    // of the labels placed before it; in a crowd, it rises above its point on a leader.
    std::vector<Box> taken;
    for (const AlrPair& pair : pairs)
        taken.push_back({x(pair.lux) - 6, y(pair.value) - 6, x(pair.lux) + 6, y(pair.value) + 6});
    for (const AlrPair& pair : pairs) {
        const double cx = x(pair.lux), cy = y(pair.value);
        const std::string label = std::to_string(pair.lux) + " lx, " + std::to_string(pair.value);
        const double w = 6.3 * label.size() + 2, h = 13;
        std::vector<Box> places = {
            {cx - w / 2, cy - 7 - h, cx + w / 2, cy - 7}, {cx + 8, cy - h / 2, cx + 8 + w, cy + h / 2},
            {cx - 8 - w, cy - h / 2, cx - 8, cy + h / 2}, {cx - w / 2, cy + 7, cx + w / 2, cy + 7 + h},
            {cx + 4, cy - 5 - h, cx + 4 + w, cy - 5},     {cx - 4 - w, cy - 5 - h, cx - 4, cy - 5},
            {cx + 4, cy + 5, cx + 4 + w, cy + 5 + h},     {cx - 4 - w, cy + 5, cx - 4, cy + 5 + h},
        };
        const size_t beside = places.size();
        for (double rise = h; rise <= 12 * h; rise += h) {
            places.push_back({cx - w / 2, cy - 7 - h - rise, cx + w / 2, cy - 7 - rise});
            places.push_back({cx, cy - 7 - h - rise, cx + w, cy - 7 - rise});
            places.push_back({cx - w, cy - 7 - h - rise, cx, cy - 7 - rise});
        }
        size_t chosen = 0;
        for (size_t i = 0; i < places.size(); ++i) {
            const Box& place = places[i];
            const bool inside = place.left >= left + 2 && place.right <= width - 2 && place.top >= 0 &&
                                place.bottom <= bottom - 2;
            if (inside && std::none_of(taken.begin(), taken.end(),
                                       [&](const Box& box) { return box.Overlaps(place); })) {
                chosen = i;
                break;
            }
        }
        const Box& place = places[chosen];
        taken.push_back(place);
        if (chosen >= beside) line(cx, cy - 5, cx, place.bottom, "#8c959f");
        text((place.left + place.right) / 2, place.bottom - 3, label, "middle", " class=\"label\"");
    }
    for (const AlrPair& pair : pairs)
        svg += "<circle class=\"pair\" cx=\"" + Number(x(pair.lux)) + "\" cy=\"" + Number(y(pair.value)) +
               "\" r=\"4.5\" fill=\"#0969da\" data-lux=\"" + std::to_string(pair.lux) + "\" data-value=\"" +
               std::to_string(pair.value) + "\"><title>" + std::to_string(pair.lux) +
               " lux: " + std::to_string(pair.value) + "</title></circle>\n";
    return svg + "</svg>\n";
}

std::string CurveSection(const AlrCurve& curve, size_t attempts) {
    std::string out = "<h2>ALR curve</h2>\n";
    auto words = [&](const std::string& text) { out += "<p class=\"no-curve\">" + Escape(text) + "</p>\n"; };
    switch (curve.state) {
        case AlrCurve::State::NeverRead:
            words("No curve: the service never read ALR_CURVE" +
                  std::string(attempts ? ", as no attempt got past CALIBRATE." : "."));
            break;
        case AlrCurve::State::NotRead:
            words("No curve: ALR_CURVE is " + ReadFailure(*curve.lastRead, alrCurveBytes) + ".");
            break;
        case AlrCurve::State::Read:
            if (curve.pairs.empty()) {
                words("The curve is empty: ALR_CURVE begins with its terminator, 65535, 65535.");
                break;
            }
            out += CurvePlot(curve.pairs);
            out += "<p class=\"note\">" + Plural(curve.pairs.size(), "pair") +
                   " of lux and response value, as the service read them from ALR_CURVE, joined in their "
                   "order.</p>\n";
            break;
    }
    return out;
}

// ---- The machine and the registry -------------------------------------------------

std::vector<std::string> HardwareIds(const emu::Bytes& property) {
    std::vector<std::string> ids;
    emu::String id;
    for (const char16_t c : emu::Utf16Text(property)) {
        if (c != 0) {
            id += c;
        } else if (!id.empty()) {
            ids.push_back(emu::Narrow(id));
            id.clear();
        }
    }
    if (!id.empty()) ids.push_back(emu::Narrow(id));
    return ids;
}

std::string MachineSection(const MachineDescription& machine, const std::string& origin) {
    std::string out = "<h2>Machine</h2>\n<table class=\"machine\">\n";
    out += "<tr><th>From</th><td>" + Escape(origin) + "</td></tr>\n";
    std::string privileges;
    for (const std::string& name : machine.requiredPrivileges.value_or(std::vector<std::string>{}))
        privileges += (privileges.empty() ? "" : ", ") + Escape(name);
    if (machine.requiredPrivileges) privileges = ", the service's privilege list: " + privileges;
    out += std::string("<tr><th>Platform</th><td>") + (machine.uefi ? "UEFI" : "no UEFI") +
           (machine.privilegeHeld ? "" : ", SeSystemEnvironmentPrivilege not held") + privileges +
           (machine.eventLog ? "" : ", no event log") + "</td></tr>\n";
    out += "<tr><th>Firmware</th><td>";
    if (machine.firmware.empty()) out += "no calibration variables";
    for (const auto& [name, data] : machine.firmware) {
        std::string hex;
        for (uint8_t byte : data) {
            char digits[4];
            std::snprintf(digits, sizeof digits, "%02x ", byte);
            hex += digits;
        }
        out += "<div><code>" + Escape(name) + "</code> " + Plural(data.size(), "byte") +
               ": <span class=\"hex\">" + hex + "</span></div>";
    }
    out += "</td></tr>\n<tr><th>Devices</th><td>";
    if (machine.devices.empty()) out += "none";
    for (const auto& device : machine.devices) {
        std::string ids;
        if (device)
            for (const std::string& id : HardwareIds(*device)) ids += (ids.empty() ? "" : ", ") + Escape(id);
        out += "<div>" +
               (!device       ? "no hardware-ID property"
                : ids.empty() ? "no hardware IDs"
                              : ids) +
               "</div>";
    }
    out += "</td></tr>\n";
    if (!machine.faults.empty()) {
        out += "<tr><th>Faults</th><td>";
        for (const FaultDescription& fault : machine.faults)
            out += "<div><code>" + Escape(fault.operation) + "</code> fails with " +
                   std::to_string(fault.error) +
                   (fault.argument ? " when called with " + Escape(*fault.argument)
                                   : ", from call " + std::to_string(fault.call) +
                                         (fault.times ? ", " + Plural(fault.times, "time") : "")) +
                   "</div>";
        out += "</td></tr>\n";
    }
    return out + "</table>\n";
}

std::string RegistrySection(const Report& report) {
    std::string out = "<h2>Device Parameters</h2>\n";
    if (report.parameterKeys.empty()) out += "<p>No sensor instance has a Device Parameters key.</p>\n";
    for (const ParameterKey& key : report.parameterKeys) {
        out += "<h3><code>HKLM\\" + Escape(key.path) + "</code></h3>\n<table class=\"values\">\n";
        for (const auto& [name, value] : key.values)
            out += "<tr><td><code>" + Escape(emu::Narrow(name)) + "</code></td><td>" + TypeName(value.type) +
                   "</td><td><code>" + Escape(ValueText(value)) + "</code></td></tr>\n";
        for (const char16_t* name : publishedValueNames) {
            const bool written = std::any_of(key.values.begin(), key.values.end(),
                                             [&](const auto& value) { return value.first == name; });
            if (!written)
                out += "<tr class=\"missing\"><td><code>" + emu::Narrow(name) +
                       "</code></td><td colspan=\"2\">not written</td></tr>\n";
        }
        out += "</table>\n";
    }
    return out;
}

// ---- The service's life -----------------------------------------------------------

// What the timeline and its table show, one lane each.
enum Lane { stateLane, attemptLane, eventLane, logLane };
constexpr int lanes = 4;
constexpr const char* laneNames[lanes] = {"Service state", "Attempts", "Event log", "Text log"};

std::string AttemptText(const Report& report, size_t index) {
    const emu::FirmwareRead& calibrate = report.attempts[index];
    if (calibrate.bytes != calibrateBytes) return "CALIBRATE " + ReadFailure(calibrate, calibrateBytes);
    return report.outcome == Outcome::Published && index + 1 == report.attempts.size() ? "published"
                                                                                       : "not published";
}

std::string TimelinePlot(const Report& report) {
    constexpr double width = 960, start = 130, end = 940, laneStep = 34, laneHeight = 24, first = 8;
    const double axis = first + lanes * laneStep;
    // An instant life still gets an axis as long as one wait between attempts.
    const uint64_t span = std::max<uint64_t>(report.endMs, retryIntervalMs);
    auto x = [&](uint64_t ms) { return start + static_cast<double>(ms) / span * (end - start); };
    auto middle = [&](int lane) { return first + lane * laneStep + laneHeight / 2; };
    // Markers of one lane at one moment stand side by side, in their order.
    struct Row {
        double gap, limit, last = -1e9;
        double Place(double at) { return last = std::min(limit, std::max(at, last + gap)); }
    };

    std::string svg = "<svg class=\"timeline\" width=\"" + Number(width) + "\" height=\"" +
                      Number(axis + 34) + "\" viewBox=\"0 0 " + Number(width) + " " + Number(axis + 34) +
                      "\" role=\"img\" aria-label=\"The service's life on simulated time\">\n";
    for (int lane = 0; lane < lanes; ++lane) {
        svg += "<rect x=\"" + Number(start) + "\" y=\"" + Number(first + lane * laneStep) + "\" width=\"" +
               Number(end - start) + "\" height=\"" + Number(laneHeight) + "\" fill=\"#f6f8fa\"/>\n";
        svg += "<text x=\"0\" y=\"" + Number(middle(lane) + 4) + "\">" + laneNames[lane] + "</text>\n";
    }
    const double step = NiceStep(span / 1000.0 / 8);
    for (double second = 0; second * 1000 <= span; second += step) {
        const double at = x(static_cast<uint64_t>(second * 1000));
        svg += "<line x1=\"" + Number(at) + "\" y1=\"" + Number(first) + "\" x2=\"" + Number(at) +
               "\" y2=\"" + Number(axis + 4) + "\" stroke=\"#d0d7de\"/>\n<text x=\"" + Number(at) +
               "\" y=\"" + Number(axis + 18) + "\" text-anchor=\"middle\">" +
               std::to_string(static_cast<long long>(second)) + " s</text>\n";
    }

    const auto& reports = report.statusReports;
    Row states{6, end};
    for (size_t i = 0; i < reports.size(); ++i) {
        const DWORD state = reports[i].status.dwCurrentState;
        const uint64_t until = i + 1 < reports.size() ? reports[i + 1].timeMs : report.endMs;
        const double from = x(reports[i].timeMs), to = x(until), top = first + 4;
        if (to > from) {
            svg += "<rect x=\"" + Number(from) + "\" y=\"" + Number(top) + "\" width=\"" + Number(to - from) +
                   "\" height=\"" + Number(laneHeight - 8) + "\" fill=\"" + StateColour(state) +
                   "\" fill-opacity=\"0.35\"/>\n";
            if (to - from > 7.0 * std::string(emu::StateName(state)).size() + 10)
                svg += "<text x=\"" + Number(from + 6) + "\" y=\"" + Number(middle(stateLane) + 4) + "\">" +
                       emu::StateName(state) + "</text>\n";
        }
        svg += "<rect class=\"status\" x=\"" + Number(states.Place(from) - 1.5) + "\" y=\"" + Number(first) +
               "\" width=\"3\" height=\"" + Number(laneHeight) + "\" fill=\"" + StateColour(state) +
               "\"><title>" + Seconds(reports[i].timeMs) + ": " + emu::StateName(state) + "</title></rect>\n";
    }

    Row attempts{14, end};
    double lastNumbered = -1e9;
    for (size_t i = 0; i < report.attempts.size(); ++i) {
        const uint64_t time = report.attempts[i].timeMs;
        const double at = attempts.Place(x(time));
        const std::string text = AttemptText(report, i);
        svg += "<circle class=\"attempt\" data-attempt=\"" + std::to_string(i + 1) + "\" cx=\"" + Number(at) +
               "\" cy=\"" + Number(middle(attemptLane) - 4) + "\" r=\"6\" fill=\"" +
               (text == "published" ? "#1a7f37" : "#cf222e") + "\"><title>" + Seconds(time) + ": attempt " +
               std::to_string(i + 1) + ", " + Escape(text) + "</title></circle>\n";
        if (at - lastNumbered >= 18 || i + 1 == report.attempts.size()) {
            svg += "<text x=\"" + Number(at) + "\" y=\"" + Number(middle(attemptLane) + 13) +
                   "\" text-anchor=\"middle\" font-size=\"9\">" + std::to_string(i + 1) + "</text>\n";
            lastNumbered = at;
        }
    }

    Row events{12, end};
    for (const emu::EventEntry& event : report.events) {
        const double at = events.Place(x(event.timeMs)), mid = middle(eventLane);
        svg += "<path class=\"event\" d=\"M" + Number(at) + " " + Number(mid - 7) +
               "l7 7-7 7-7-7z\" fill=\"" + EventColour(event.type) + "\"><title>" + Seconds(event.timeMs) +
               ": " + Escape(event.strings.size() > 1 ? emu::Narrow(event.strings[1]) : std::string()) +
               "</title></path>\n";
    }

    Row entries{5, end};
    for (const LogEntry& entry : report.logEntries)
        svg += "<rect class=\"log\" x=\"" + Number(entries.Place(x(entry.timeMs)) - 1.5) + "\" y=\"" +
               Number(middle(logLane) - 8) + "\" width=\"3\" height=\"16\" fill=\"#8250df\"><title>" +
               Escape(entry.timestamp + entry.message) + "</title></rect>\n";
    return svg + "</svg>\n";
}

std::string LifeSection(const Report& report) {
    std::string out = "<h2>The service's life</h2>\n" + TimelinePlot(report);
    out +=
        "<p class=\"note\">Simulated time. Marks of one moment stand side by side, in the order they "
        "happened; the table holds each of them.</p>\n";

    // One row per moment, one column per lane: within a column the order is the record's
    // own. A lane without any entry has no column.
    std::map<uint64_t, std::array<std::string, lanes>> moments;
    for (const emu::StatusReport& status : report.statusReports) {
        const DWORD state = status.status.dwCurrentState;
        std::string detail;
        if (status.status.dwCheckPoint) detail += " checkpoint " + std::to_string(status.status.dwCheckPoint);
        if (status.status.dwWin32ExitCode)
            detail += " exit code " + std::to_string(status.status.dwWin32ExitCode);
        moments[status.timeMs][stateLane] += std::string("<div class=\"state\" style=\"border-color:") +
                                             StateColour(state) + "\">" + emu::StateName(state) +
                                             "<span class=\"minor\">" + detail + "</span></div>";
    }
    for (size_t i = 0; i < report.attempts.size(); ++i) {
        const std::string text = AttemptText(report, i);
        moments[report.attempts[i].timeMs][attemptLane] +=
            "<div class=\"attempt " + std::string(text == "published" ? "published" : "failed") +
            "\" data-attempt=\"" + std::to_string(i + 1) + "\">attempt " + std::to_string(i + 1) + ": " +
            Escape(text) + "</div>";
    }
    for (const emu::EventEntry& event : report.events) {
        // Information is what most entries are; the others say their type.
        const std::string type =
            event.type == EVENTLOG_INFORMATION_TYPE ? "" : std::string(EventTypeName(event.type)) + ": ";
        moments[event.timeMs][eventLane] +=
            std::string("<div class=\"event\" style=\"border-color:") + EventColour(event.type) + "\">" +
            type + Escape(event.strings.size() > 1 ? emu::Narrow(event.strings[1]) : std::string()) +
            "</div>";
    }
    for (const LogEntry& entry : report.logEntries)
        moments[entry.timeMs][logLane] += "<div class=\"log\" title=\"" + Escape(entry.timestamp) + "\">" +
                                          Escape(entry.message) + "</div>";

    bool shown[lanes] = {};
    for (const auto& [time, cells] : moments)
        for (int lane = 0; lane < lanes; ++lane) shown[lane] = shown[lane] || !cells[lane].empty();
    out += "<table class=\"moments\">\n<tr><th>Time</th>";
    for (int lane = 0; lane < lanes; ++lane)
        if (shown[lane]) out += "<th>" + std::string(laneNames[lane]) + "</th>";
    out += "</tr>\n";
    for (const auto& [time, cells] : moments) {
        out += "<tr><td>" + Seconds(time) + "</td>";
        for (int lane = 0; lane < lanes; ++lane)
            if (shown[lane]) out += "<td>" + cells[lane] + "</td>";
        out += "</tr>\n";
    }
    out += "</table>\n";

    if (!report.logExists) {
        out += "<p class=\"note\">No text log was written.</p>\n";
    } else {
        if (!report.logFault.empty())
            out += "<p class=\"missing\">The text log is not whole entries from here: " +
                   Escape(report.logFault) + ".</p>\n";
        out += "<details><summary>The text log as written</summary><pre>" + Escape(report.logText) +
               "</pre></details>\n";
    }
    return out;
}

}  // namespace

std::string HtmlReport(const Report& report, const MachineDescription& machine, const std::string& origin) {
    const bool published = report.outcome == Outcome::Published;
    std::string out = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\"/>\n";
    out += "<title>Noxel ALS service, simulated: " + Escape(OutcomeText(report)) + "</title>\n";
    out += "<style>" + std::string(style) + "</style>\n</head>\n<body>\n";
    out += "<h1>Noxel ALS calibration service, simulated</h1>\n";
    if (report.description) out += "<p class=\"description\">" + Escape(*report.description) + "</p>\n";
    out += std::string("<p class=\"summary\">") +
           (published ? "<span class=\"outcome published\">published</span>"
                      : "<span class=\"outcome not-published\">not published</span><span>" +
                            Escape(OutcomeText(report)) + "</span>") +
           "<span>Attempts: " + std::to_string(report.attempts.size()) +
           "</span><span>Simulated time: " + Seconds(report.endMs) + "</span></p>\n";
    out += CurveSection(report.alrCurve, report.attempts.size());
    out += RegistrySection(report);
    out += LifeSection(report);
    out += MachineSection(machine, origin);
    return out + "</body>\n</html>\n";
}

}  // namespace sim
