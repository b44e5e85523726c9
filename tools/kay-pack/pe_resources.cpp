#include "pe_resources.h"

#include <algorithm>

#include "format/format.h"

static void directory(std::string& out, std::size_t entries) {
    put_le(out, 0, 4);  // characteristics
    put_le(out, 0, 4);  // time stamp
    put_le(out, 0, 4);  // version
    put_le(out, 0, 2);  // named entries
    put_le(out, entries, 2);
}

std::string resource_section(std::vector<Resource> resources, std::uint32_t rva) {
    std::stable_sort(resources.begin(), resources.end(), [](const Resource& a, const Resource& b) {
        return a.type != b.type ? a.type < b.type : a.id < b.id;
    });
    // Groups of one type: [first, last) in `resources`.
    std::vector<std::pair<std::size_t, std::size_t>> types;
    for (std::size_t i = 0; i < resources.size(); i++) {
        if (types.empty() || resources[types.back().first].type != resources[i].type) types.push_back({i, i});
        types.back().second = i + 1;
    }
    // Offsets: root, type directories, one id directory per resource (one
    // language each), data entries, then the data, 8-byte aligned.
    std::size_t n = resources.size();
    std::size_t type_dirs = 16 + 8 * types.size();
    std::vector<std::size_t> type_at(types.size());
    std::size_t pos = type_dirs;
    for (std::size_t t = 0; t < types.size(); t++) {
        type_at[t] = pos;
        pos += 16 + 8 * (types[t].second - types[t].first);
    }
    std::size_t language_dirs = pos;
    std::size_t entries = language_dirs + n * (16 + 8);
    std::vector<std::size_t> data_at(n);
    pos = entries + 16 * n;
    for (std::size_t i = 0; i < n; i++) {
        pos = (pos + 7) / 8 * 8;
        data_at[i] = pos;
        pos += resources[i].data.size();
    }

    std::string out;
    directory(out, types.size());
    for (std::size_t t = 0; t < types.size(); t++) {
        put_le(out, resources[types[t].first].type, 4);
        put_le(out, 0x80000000u | type_at[t], 4);
    }
    for (const auto& [first, last] : types) {
        directory(out, last - first);
        for (std::size_t i = first; i < last; i++) {
            put_le(out, resources[i].id, 4);
            put_le(out, 0x80000000u | (language_dirs + i * 24), 4);
        }
    }
    for (std::size_t i = 0; i < n; i++) {
        directory(out, 1);
        put_le(out, LANGUAGE_EN_US, 4);
        put_le(out, entries + 16 * i, 4);
    }
    for (std::size_t i = 0; i < n; i++) {
        put_le(out, rva + data_at[i], 4);
        put_le(out, resources[i].data.size(), 4);
        put_le(out, 0, 4);  // code page
        put_le(out, 0, 4);
    }
    for (std::size_t i = 0; i < n; i++) {
        out.resize(data_at[i], '\0');
        out += resources[i].data;
    }
    return out;
}
