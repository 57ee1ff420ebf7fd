#include "logger/live_snapshot.h"

#include <cmath>
#include <cstdio>

#include "meters/meter_model.h"

namespace quorna {
namespace {

// The Prometheus names of the transaction results, by code.
constexpr std::array<const char*, 11> kResultNames{
    "ok",          "timeout",        "response_too_large", "wrong_byte_count",    "exception",        "crc",
    "wrong_address", "wrong_function", "wrong_data_length", "write_not_confirmed", "invalid_parameter"};

const char* modelName(int model) {
    switch (model) {
        case kBranchMeter: return "branch";
        case kCircuitMeter8: return "circuit8";
        case kCircuitMeter6: return "circuit6";
        case kTemperatureMeter: return "temperature";
        case kEnergyOnlyMeter: return "energy";
        case kFullDataMeter: return "fulldata";
        default: return "unknown";
    }
}

std::string number(double value) {
    if (std::isnan(value)) return "NaN";
    char text[40];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string jsonNumber(double value) { return std::isnan(value) ? "null" : number(value); }

// A label value: backslash, double quote and line feed escaped.
std::string labelValue(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '"') out += "\\\"";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else if (u >= 0x80) {
            out += '?';  // the meters' names are ASCII; anything else is not shown as it is
        } else {
            out += c;
        }
    }
    return out + "\"";
}

class Exposition {
public:
    void family(const char* name, const char* type, const char* help) {
        m_text += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
    }
    void sample(const char* name, const std::string& labels, double value) {
        m_text += name;
        if (!labels.empty()) m_text += "{" + labels + "}";
        m_text += " " + number(value) + "\n";
    }
    [[nodiscard]] std::string text() const { return m_text; }

private:
    std::string m_text;
};

std::string meterLabel(int address) { return "meter=\"" + std::to_string(address) + "\""; }

struct PhaseValue {
    const char* phase;
    double MeterReadout::*value;
};

}  // namespace

int lampLevel(Lamp lamp) {
    switch (lamp) {
        case Lamp::Green: return 0;
        case Lamp::Yellow: return 1;
        case Lamp::Red: return 2;
        case Lamp::Unknown: break;
    }
    return -1;
}

const char* levelName(Lamp lamp) {
    switch (lamp) {
        case Lamp::Green: return "normal";
        case Lamp::Yellow: return "warning";
        case Lamp::Red: return "alarm";
        case Lamp::Unknown: break;
    }
    return "unknown";
}

std::string metricsText(const LiveSnapshot& s) {
    Exposition out;
    std::vector<const LiveMeter*> branch;
    std::vector<const LiveMeter*> circuit;
    for (const LiveMeter& m : s.meters) {
        if (!m.up) continue;
        if (m.readout.model == kBranchMeter) branch.push_back(&m);
        if (isCircuitModel(m.readout.model)) circuit.push_back(&m);
    }
    if (s.live) {
        out.family("quorna_meter_up", "gauge", "1 when the meter answered its last live poll, else 0.");
        for (const LiveMeter& m : s.meters) {
            out.sample("quorna_meter_up",
                       meterLabel(m.address) + ",model=\"" + modelName(m.model) + "\",name=\"" + labelValue(m.name) +
                           "\",location=\"" + labelValue(s.location) + "\"",
                       m.up ? 1 : 0);
        }
        out.family("quorna_meter_last_read_timestamp_seconds", "gauge", "When the meter last answered a live poll.");
        for (const LiveMeter& m : s.meters) {
            if (m.lastRead != 0) out.sample("quorna_meter_last_read_timestamp_seconds", meterLabel(m.address),
                                            static_cast<double>(m.lastRead));
        }
    }
    out.family("quorna_breaker_current_amperes", "gauge", "A Branch meter's breaker current.");
    for (const LiveMeter* m : branch) {
        for (int b = 0; b < kBreakerCount; ++b) {
            out.sample("quorna_breaker_current_amperes",
                       meterLabel(m->address) + ",breaker=\"" + std::to_string(b + 1) + "\"",
                       m->readout.breakerAmps[static_cast<std::size_t>(b)]);
        }
    }
    out.family("quorna_breaker_alarm_state", "gauge", "A breaker's lamp: 0 normal, 1 warning, 2 alarm.");
    for (const LiveMeter* m : branch) {
        for (int b = 0; b < kBreakerCount; ++b) {
            out.sample("quorna_breaker_alarm_state", meterLabel(m->address) + ",breaker=\"" + std::to_string(b + 1) + "\"",
                       lampLevel(m->readout.lamps.breaker[static_cast<std::size_t>(b)]));
        }
    }
    static constexpr std::array<PhaseValue, 8> kVolts{{{"AN", &MeterReadout::lnAN}, {"BN", &MeterReadout::lnBN},
                                                       {"CN", &MeterReadout::lnCN}, {"LN_avg", &MeterReadout::lnAvg},
                                                       {"AB", &MeterReadout::llAB}, {"BC", &MeterReadout::llBC},
                                                       {"CA", &MeterReadout::llCA}, {"LL_avg", &MeterReadout::llAvg}}};
    static constexpr std::array<PhaseValue, 5> kAmps{{{"A", &MeterReadout::currentA}, {"B", &MeterReadout::currentB},
                                                      {"C", &MeterReadout::currentC}, {"N", &MeterReadout::currentN},
                                                      {"avg", &MeterReadout::currentAvg}}};
    const auto phases = [&](const char* name, const char* help, const auto& table) {
        out.family(name, "gauge", help);
        for (const LiveMeter* m : circuit) {
            for (const PhaseValue& p : table) {
                const double v = m->readout.*p.value;
                if (!std::isnan(v)) out.sample(name, meterLabel(m->address) + ",phase=\"" + p.phase + "\"", v);
            }
        }
    };
    phases("quorna_phase_voltage_volts", "A Circuit meter's voltage, line to neutral or line to line.", kVolts);
    phases("quorna_phase_current_amperes", "A Circuit meter's phase current.", kAmps);
    const auto single = [&](const char* name, const char* help, double MeterReadout::*value, double factor) {
        out.family(name, "gauge", help);
        for (const LiveMeter* m : circuit) {
            const double v = m->readout.*value;
            if (!std::isnan(v)) out.sample(name, meterLabel(m->address), v * factor);
        }
    };
    single("quorna_meter_active_power_watts", "A Circuit meter's active power.", &MeterReadout::kW, 1000.0);
    single("quorna_meter_reactive_power_var", "A Circuit meter's reactive power.", &MeterReadout::kVAr, 1000.0);
    single("quorna_meter_apparent_power_voltamperes", "A Circuit meter's apparent power.", &MeterReadout::kVA, 1000.0);
    single("quorna_meter_power_factor_ratio", "A Circuit meter's power factor.", &MeterReadout::pf, 1.0);
    out.family("quorna_phase_alarm_state", "gauge", "A Circuit meter's Over Amps and Over Volts lamps: 0 normal, 2 alarm.");
    for (const LiveMeter* m : circuit) {
        out.sample("quorna_phase_alarm_state", meterLabel(m->address) + ",quantity=\"current\"",
                   lampLevel(m->readout.lamps.overAmps));
        out.sample("quorna_phase_alarm_state", meterLabel(m->address) + ",quantity=\"voltage\"",
                   lampLevel(m->readout.lamps.overVolts));
    }
    out.family("quorna_alarm_events_total", "counter", "Lamp colour changes, by meter and new level.");
    for (const auto& [key, count] : s.alarmEvents) {
        out.sample("quorna_alarm_events_total", meterLabel(key.first) + ",level=\"" + key.second + "\"",
                   static_cast<double>(count));
    }
    out.family("quorna_bus_transactions_total", "counter", "Modbus transactions on the bus, by result.");
    for (std::size_t i = 0; i < kResultNames.size(); ++i) {
        out.sample("quorna_bus_transactions_total", std::string("result=\"") + kResultNames[i] + "\"",
                   static_cast<double>(s.transactions[i]));
    }
    out.family("quorna_spool_records", "gauge", "Readings waiting in the spool, by where they go.");
    out.sample("quorna_spool_records", "sink=\"file\"", static_cast<double>(s.spoolFile));
    out.sample("quorna_spool_records", "sink=\"database\"", static_cast<double>(s.spoolDatabase));
    out.family("quorna_logging_moments_total", "counter", "Logging moments taken since the logger started.");
    out.sample("quorna_logging_moments_total", "", static_cast<double>(s.loggingMoments));
    return out.text();
}

std::string metersJson(const LiveSnapshot& s) {
    std::string j = "{\"location\":" + jsonString(s.location) + ",\"live\":" + (s.live ? "true" : "false") + ",\"meters\":[";
    bool first = true;
    for (const LiveMeter& m : s.meters) {
        if (!first) j += ",";
        first = false;
        j += "{\"address\":" + std::to_string(m.address) + ",\"model\":\"" + modelName(m.model) +
             "\",\"name\":" + jsonString(m.name) + ",\"up\":" + (m.up ? "true" : "false") + ",\"last_read\":" +
             (m.lastRead == 0 ? std::string("null") : std::to_string(m.lastRead));
        if (m.up && m.readout.model == kBranchMeter) {
            j += ",\"breakers\":[";
            for (int b = 0; b < kBreakerCount; ++b) {
                const auto i = static_cast<std::size_t>(b);
                if (b > 0) j += ",";
                j += "{\"amps\":" + jsonNumber(m.readout.breakerAmps[i]) + ",\"lamp\":\"" +
                     levelName(m.readout.lamps.breaker[i]) + "\"}";
            }
            j += "]";
        } else if (m.up && isCircuitModel(m.readout.model)) {
            const MeterReadout& r = m.readout;
            j += ",\"phases\":{\"volts_ln\":[" + jsonNumber(r.lnAN) + "," + jsonNumber(r.lnBN) + "," + jsonNumber(r.lnCN) +
                 "," + jsonNumber(r.lnAvg) + "],\"volts_ll\":[" + jsonNumber(r.llAB) + "," + jsonNumber(r.llBC) + "," +
                 jsonNumber(r.llCA) + "," + jsonNumber(r.llAvg) + "],\"amps\":[" + jsonNumber(r.currentA) + "," +
                 jsonNumber(r.currentB) + "," + jsonNumber(r.currentC) + "," + jsonNumber(r.currentN) + "," +
                 jsonNumber(r.currentAvg) + "],\"kw\":" + jsonNumber(r.kW) + ",\"kvar\":" + jsonNumber(r.kVAr) +
                 ",\"kva\":" + jsonNumber(r.kVA) + ",\"pf\":" + jsonNumber(r.pf) + ",\"over_amps\":\"" +
                 levelName(r.lamps.overAmps) + "\",\"over_volts\":\"" + levelName(r.lamps.overVolts) + "\"}";
        }
        j += "}";
    }
    return j + "]}\n";
}

const char* livePageHtml() {
    return R"HTML(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Quorna live panel</title>
<style>
body{font-family:sans-serif;margin:1em;background:#f4f4f4}
#meters button{margin:2px;padding:4px 8px}
#meters button.down{color:#999}
#meters button.chosen{font-weight:bold;border:2px solid #333}
table{border-collapse:collapse;margin-top:1em}
td{border:1px solid #bbb;padding:3px 8px;text-align:right;background:#fff;min-width:5em}
td.lamp{min-width:0;width:1em;padding:0}
td.green,span.green{background:#2e7d32}td.yellow,span.yellow{background:#f9a825}
td.red,span.red{background:#c62828}td.unknown,span.unknown{background:#9e9e9e}
span.lamp{display:inline-block;width:1em;height:1em;vertical-align:middle}
#status{color:#555}
</style></head><body>
<h1>Quorna live panel <span id="location"></span></h1>
<div id="meters"></div><div id="status">loading</div><div id="readout"></div>
<script>
"use strict";
const lampClass = {normal: "green", warning: "yellow", alarm: "red"};
function chosen() { const h = location.hash.replace("#", ""); return h === "" ? null : Number(h); }
function fixed(v, n) { return v === null ? "" : v.toFixed(n); }
function cell(text) { const td = document.createElement("td"); td.textContent = text; return td; }
function lampCell(level, id) {
  const td = document.createElement("td"); td.className = "lamp " + (lampClass[level] || "unknown");
  td.id = id; td.dataset.lamp = lampClass[level] || "unknown"; return td;
}
function showBranch(m, box) {
  const t = document.createElement("table");
  for (let row = 0; row < 21; ++row) {
    const tr = document.createElement("tr");
    for (const b of [row * 2, row * 2 + 1]) {
      const br = m.breakers[b]; const v = cell(fixed(br.amps, 3));
      v.id = "breaker-" + (b + 1); v.dataset.lamp = lampClass[br.lamp] || "unknown";
      tr.append(cell("#" + (b + 1)), v, lampCell(br.lamp, "lamp-" + (b + 1)));
    }
    t.append(tr);
  }
  box.append(t);
}
function showCircuit(m, box) {
  const p = m.phases; const t = document.createElement("table");
  const rows = [["V L-N (AN BN CN avg)", p.volts_ln], ["V L-L (AB BC CA avg)", p.volts_ll],
                ["A (A B C N avg)", p.amps], ["kW kVAr kVA PF", [p.kw, p.kvar, p.kva, p.pf]]];
  for (const [label, values] of rows) {
    const tr = document.createElement("tr"); tr.append(cell(label));
    for (const v of values) tr.append(cell(fixed(v, 2)));
    t.append(tr);
  }
  const tr = document.createElement("tr");
  tr.append(cell("Over Amps"), lampCell(p.over_amps, "lamp-over-amps"), cell("Over Volts"), lampCell(p.over_volts, "lamp-over-volts"));
  t.append(tr); box.append(t);
}
function render(data) {
  document.getElementById("location").textContent = data.location ? "- " + data.location : "";
  const list = document.getElementById("meters"); list.textContent = "";
  let pick = chosen(); if (pick === null && data.meters.length > 0) pick = data.meters[0].address;
  for (const m of data.meters) {
    const b = document.createElement("button");
    b.textContent = m.address + " " + m.name + " (" + m.model + ")";
    b.className = (m.up ? "up" : "down") + (m.address === pick ? " chosen" : "");
    b.onclick = () => { location.hash = "#" + m.address; refresh(); };
    list.append(b);
  }
  const box = document.getElementById("readout"); box.textContent = "";
  const m = data.meters.find(x => x.address === pick);
  const status = document.getElementById("status");
  if (!m) { status.textContent = "no meter"; return; }
  box.dataset.meter = String(m.address);
  if (!m.up) { status.textContent = "meter " + m.address + " is down (not answering)"; return; }
  status.textContent = "meter " + m.address + ", read at " + new Date(m.last_read * 1000).toLocaleTimeString();
  if (m.breakers) showBranch(m, box); else if (m.phases) showCircuit(m, box);
}
function refresh() {
  fetch("/api/v1/meters", {cache: "no-store"}).then(r => r.json()).then(render)
    .catch(() => { document.getElementById("status").textContent = "the logger does not answer"; });
}
refresh(); setInterval(refresh, 1000);
</script></body></html>
)HTML";
}

}  // namespace quorna
