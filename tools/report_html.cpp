#include "tools/report_html.h"

#include <algorithm>
#include <cstdio>

namespace qern {

namespace {

std::string escape_html(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

const char* severity_class(Severity severity) {
    switch (severity) {
        case Severity::FAILS: return "fails";
        case Severity::SOUNDS_WRONG: return "wrong";
        case Severity::WORTH_A_LOOK: return "look";
    }
    return "";
}

std::string where_text(const Finding& f) {
    char buffer[64];
    if (f.to_ms > f.from_ms) {
        std::snprintf(buffer, sizeof buffer, "%.0f&ndash;%.0f", f.from_ms, f.to_ms);
    } else {
        std::snprintf(buffer, sizeof buffer, "%.0f", f.from_ms);
    }
    return buffer;
}

// The SVG document without its XML declaration, to sit inside the page.
std::string inline_svg(const std::string& svg) {
    const std::size_t at = svg.find("<svg");
    return at == std::string::npos ? std::string() : svg.substr(at);
}

constexpr const char* STYLE = R"(body{font-family:'Segoe UI',Meiryo,'Yu Gothic','Hiragino Sans','Noto Sans CJK JP',sans-serif;margin:24px;color:#222;max-width:1240px}
h1{font-size:22px;margin-bottom:4px}h2{font-size:18px;margin-top:28px}h3{font-size:15px;margin-bottom:4px}
p.meta{color:#555;margin-top:0}
table{border-collapse:collapse;font-size:13px}
th,td{border:1px solid #ccc;padding:3px 7px;text-align:left;vertical-align:top}
thead th{background:#eee}
th.sortable{cursor:pointer;text-decoration:underline dotted}
table.summary td{text-align:right;min-width:40px;font-weight:bold}
tr.fails td.severity,table.summary tr.fails th{background:#f4b6b8}
tr.wrong td.severity,table.summary tr.wrong th{background:#fbd9a6}
tr.look td.severity,table.summary tr.look th{background:#e6e6e6}
td.where{white-space:nowrap;text-align:right}
section.sample{margin-top:18px;border-top:1px solid #ddd;padding-top:6px}
section.sample svg{max-width:100%;height:auto;border:1px solid #ddd}
ul.findings{font-size:13px;margin:4px 0 8px 0}
)";

// Sorting by a click on "Sample" or "Severity": the rows carry their keys
// and their place in the original order, which breaks ties.
constexpr const char* SCRIPT = R"(<script>
(function () {
  var table = document.getElementById('findings-table');
  if (!table) return;
  var body = table.tBodies[0];
  var rows = Array.prototype.slice.call(body.rows);
  rows.forEach(function (r, i) { r.dataset.order = i; });
  var headers = table.querySelectorAll('th[data-sort]');
  Array.prototype.forEach.call(headers, function (th) {
    th.className = 'sortable';
    th.title = 'sort by this column';
    th.addEventListener('click', function () {
      var key = th.dataset.sort;
      var other = key === 'sample' ? 'severity' : 'sample';
      rows.sort(function (a, b) {
        var x = a.dataset[key], y = b.dataset[key];
        if (x !== y) return x < y ? -1 : 1;
        x = a.dataset[other]; y = b.dataset[other];
        if (x !== y) return x < y ? -1 : 1;
        return a.dataset.order - b.dataset.order;
      });
      rows.forEach(function (r) { body.appendChild(r); });
    });
  });
})();
</script>
)";

}  // namespace

std::string render_report_html(const VoicebankReport& report,
                               const std::vector<std::pair<std::string, std::string>>& pictures) {
    std::string html;
    html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += "<title>QERN voicebank check: " + escape_html(report.folder) + "</title>\n";
    html += "<style>\n" + std::string(STYLE) + "</style>\n</head>\n<body>\n";
    html += "<h1>QERN voicebank check</h1>\n<p class=\"meta\">" + escape_html(report.folder) + ": " +
            std::to_string(report.samples.size()) + " samples, " + std::to_string(report.entry_count) +
            " oto.ini entries";
    if (!report.oto_files.empty()) {
        html += " in ";
        for (std::size_t i = 0; i < report.oto_files.size(); ++i) {
            html += (i == 0 ? "" : ", ") + escape_html(report.oto_files[i]);
        }
    }
    html += ".</p>\n";

    // Summary by severity.
    const std::vector<int> counts = count_by_severity(report.findings);
    html += "<section id=\"summary\">\n<h2>Summary</h2>\n<table class=\"summary\">\n";
    for (const Severity s : {Severity::FAILS, Severity::SOUNDS_WRONG, Severity::WORTH_A_LOOK}) {
        html += std::string("<tr class=\"") + severity_class(s) + "\"><th>" + severity_name(s) + "</th><td>" +
                std::to_string(counts[static_cast<std::size_t>(s)]) + "</td></tr>\n";
    }
    html += "</table>\n";
    if (report.findings.empty()) html += "<p>No findings: every sample and entry passed the checks.</p>\n";
    html += "</section>\n";

    // Samples with findings in the order they first appear in the table
    // (the most severe first), each with an anchor.
    std::vector<std::size_t> with_findings;
    for (const Finding& f : report.findings) {
        for (std::size_t i = 0; i < report.samples.size(); ++i) {
            if (report.samples[i].name == f.sample &&
                std::find(with_findings.begin(), with_findings.end(), i) == with_findings.end()) {
                with_findings.push_back(i);
            }
        }
    }
    const auto anchor_of = [&](const std::string& sample) -> std::string {
        for (const std::size_t i : with_findings) {
            if (report.samples[i].name == sample) return "sample-" + std::to_string(i);
        }
        return std::string();
    };

    // The table.
    if (!report.findings.empty()) {
        html += "<section id=\"findings\">\n<h2>Findings</h2>\n<table id=\"findings-table\">\n<thead><tr>"
                "<th data-sort=\"sample\">Sample</th><th>Alias</th><th>What</th><th>Where (ms)</th>"
                "<th>Measured</th><th data-sort=\"severity\">Severity</th></tr></thead>\n<tbody>\n";
        for (const Finding& f : report.findings) {
            const std::string anchor = anchor_of(f.sample);
            html += std::string("<tr class=\"") + severity_class(f.severity) + "\" data-severity=\"" +
                    std::to_string(static_cast<int>(f.severity)) + "\" data-sample=\"" + escape_html(f.sample) +
                    "\"><td>";
            html += anchor.empty() ? escape_html(f.sample)
                                   : "<a href=\"#" + anchor + "\">" + escape_html(f.sample) + "</a>";
            html += "</td><td>" + escape_html(f.alias) + "</td><td>" + escape_html(f.what) +
                    "</td><td class=\"where\">" + where_text(f) + "</td><td>" + escape_html(f.reason) +
                    "</td><td class=\"severity\">" + severity_name(f.severity) + "</td></tr>\n";
        }
        html += "</tbody>\n</table>\n</section>\n";
    }

    // One section per sample with findings, with its picture.
    if (!with_findings.empty()) html += "<section id=\"samples\">\n<h2>Samples with findings</h2>\n";
    for (const std::size_t i : with_findings) {
        const ReportSample& s = report.samples[i];
        html += "<section class=\"sample\" id=\"sample-" + std::to_string(i) + "\">\n<h3>" + escape_html(s.name) +
                "</h3>\n<ul class=\"findings\">\n";
        for (const Finding& f : report.findings) {
            if (f.sample != s.name) continue;
            html += std::string("<li><b>") + severity_name(f.severity) + "</b>: " +
                    (f.alias.empty() ? std::string() : escape_html(f.alias) + ": ") + escape_html(f.what) + " (" +
                    where_text(f) + " ms; " + escape_html(f.reason) + ")</li>\n";
        }
        html += "</ul>\n";
        const auto picture = std::find_if(pictures.begin(), pictures.end(),
                                          [&](const auto& p) { return p.first == s.name; });
        if (picture != pictures.end()) html += inline_svg(picture->second);
        html += "</section>\n";
    }
    if (!with_findings.empty()) html += "</section>\n";
    html += SCRIPT;
    html += "</body>\n</html>\n";
    return html;
}

}  // namespace qern
