#include "tools/routes/RouteCheck.h"

#include "routing/LocalRouteList.h"

#include <algorithm>
#include <bit>
#include <cstdio>

namespace brindlecove::routes {
namespace {

// The range a routed pair names, or why the system would not route it.
std::string ReadPair(const TRouteLine& pair, TAddressRange& range) {
    const auto network = ParseInetAddress(pair.Network);
    const auto mask = ParseInetAddress(pair.Mask);
    if (!network || !mask) {
        return "not an address";
    }
    const auto prefix = PrefixOfMask(*mask);
    if (!prefix) {
        return "the mask has a gap";
    }
    if ((*network & ~*mask) != 0) {
        return "the network has bits outside the mask";
    }
    range = {*network, TCidrBlock{*network, *prefix}.Size()};
    return {};
}

void FindRepeats(const std::vector<TListRow>& rows, TCheckReport& report) {
    // CIDR blocks nest or stay apart. In address order, widest first, a row within the reach of
    // the widest row before it lies within that row.
    std::vector<const TListRow*> order;
    for (const TListRow& row : rows) {
        order.push_back(&row);
    }
    std::sort(order.begin(), order.end(), [](const TListRow* a, const TListRow* b) {
        if (a->Range.First != b->Range.First) {
            return a->Range.First < b->Range.First;
        }
        return a->Range.Count != b->Range.Count ? a->Range.Count > b->Range.Count : a->Row < b->Row;
    });
    const TListRow* reach = nullptr; // the row reaching furthest so far
    const TListRow* same = nullptr;  // the first row of the range just seen
    for (const TListRow* row : order) {
        TListRow repeat = *row;
        if (same != nullptr && row->Range == same->Range) {
            repeat.OtherRow = same->Row;
            report.Duplicates.push_back(repeat);
            continue;
        }
        same = row;
        if (reach != nullptr && row->Range.End() <= reach->Range.End()) {
            repeat.OtherRow = reach->Row;
            report.Covered.push_back(repeat);
        } else {
            reach = row;
        }
    }
    const auto byRow = [](const TListRow& a, const TListRow& b) { return a.Row < b.Row; };
    std::sort(report.Duplicates.begin(), report.Duplicates.end(), byRow);
    std::sort(report.Covered.begin(), report.Covered.end(), byRow);
}

std::string Percent(std::uint64_t part, std::uint64_t whole) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%",
                  whole == 0 ? 0.0
                             : 100.0 * static_cast<double>(part) / static_cast<double>(whole));
    return text;
}

std::string Rows(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " row" : " rows");
}

std::string Block(const TAddressRange& range) {
    return FormatAddress(range.First) + "/" + std::to_string(32 - std::countr_zero(range.Count));
}

} // namespace

TCheckReport CheckRouteList(std::string_view listText,
                            const std::vector<TAddressRange>& allocations) {
    TCheckReport report;
    std::vector<TListRow> routed;
    std::vector<TAddressRange> ranges;
    const std::vector<std::string> lines = SplitLines(listText);
    report.Lines = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        TListRow row;
        row.Row = i + 1;
        row.Text = lines[i];
        std::string logged;
        const TRouteLine pair =
            ParseRouteLine(lines[i], [&](const std::string& line) { logged = line; });
        if (pair.Kind == TRouteLineKind::Skip) {
            ++report.Skipped;
            continue;
        }
        row.Problem = pair.Kind == TRouteLineKind::BadPair ? logged : ReadPair(pair, row.Range);
        if (!row.Problem.empty()) {
            report.Bad.push_back(row);
            continue;
        }
        row.Outside = row.Range.Count - OverlapWith(allocations, row.Range);
        if (row.Outside != 0) {
            report.Outside.push_back(row);
        } else {
            ++report.Inside;
        }
        ranges.push_back(row.Range);
        routed.push_back(std::move(row));
    }
    FindRepeats(routed, report);
    for (const TAddressRange& allocation : allocations) {
        report.AllocatedAddresses += allocation.Count;
    }
    for (const TAddressRange& range : MergeRanges(std::move(ranges))) {
        report.CoveredAddresses += OverlapWith(allocations, range);
    }
    return report;
}

void PrintCheckReport(const TCheckReport& report, std::ostream& out) {
    const std::size_t pairs = report.Inside + report.Outside.size() + report.Bad.size();
    out << report.Lines << " lines: " << pairs << " network,mask rows, " << report.Skipped
        << " skipped (comments, blank lines, lines without a comma)\n";
    out << "Inside the allocations: " << Rows(report.Inside) << "\n";
    out << "Outside: " << Rows(report.Outside.size()) << "\n";
    for (const TListRow& row : report.Outside) {
        out << "  row " << row.Row << ": " << row.Text << " (" << Block(row.Range) << ") "
            << (row.Outside == row.Range.Count
                    ? "lies wholly outside"
                    : "lies partly outside: " + std::to_string(row.Outside) + " of " +
                          std::to_string(row.Range.Count) + " addresses")
            << "\n";
    }
    out << "Duplicates: " << Rows(report.Duplicates.size()) << "\n";
    for (const TListRow& row : report.Duplicates) {
        out << "  row " << row.Row << ": " << row.Text << " repeats row " << row.OtherRow << "\n";
    }
    out << "Within other rows: " << Rows(report.Covered.size()) << "\n";
    for (const TListRow& row : report.Covered) {
        out << "  row " << row.Row << ": " << row.Text << " lies within row " << row.OtherRow
            << "\n";
    }
    out << "Bad pairs: " << Rows(report.Bad.size()) << "\n";
    for (const TListRow& row : report.Bad) {
        out << "  row " << row.Row << ": " << row.Text << ": " << row.Problem << "\n";
    }
    out << "Coverage: " << report.CoveredAddresses << " of " << report.AllocatedAddresses
        << " allocated addresses (" << Percent(report.CoveredAddresses, report.AllocatedAddresses)
        << ")\n";
}

} // namespace brindlecove::routes
