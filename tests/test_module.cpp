// The native plug-in module, loaded by file name through the system's
// loader as a host loads it: its only export is GetFilterTable, and driving
// it through a stand-in host gives the same frames as the filter linked
// into this program.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "plugin/filter_export.h"
#include "simd/cpu_probe.h"
#include "tests/hosts/standin_host/stand_in_host.h"
#include "tests/support/random_seed.h"

using lowpass::standin::FramePair;
using lowpass::standin::GuardedFrame;
using lowpass::standin::StandInHost;

namespace {

using GetFilterTableFunc = FILTER_DLL* (*)();

// Names of the symbols a shared object defines and exports (global or weak
// binding, default or protected visibility, defined in some section).
template <typename Ehdr, typename Shdr, typename Sym, unsigned char (*Bind)(unsigned char)>
std::set<std::string> ExportedSymbols(const std::vector<char>& file) {
    std::set<std::string> names;
    Ehdr header;
    std::memcpy(&header, file.data(), sizeof header);
    std::vector<Shdr> sections(header.e_shnum);
    for (std::size_t i = 0; i < sections.size(); ++i)
        std::memcpy(&sections[i], file.data() + header.e_shoff + i * header.e_shentsize, sizeof(Shdr));
    for (const Shdr& section : sections) {
        if (section.sh_type != SHT_DYNSYM) continue;
        const Shdr& strings = sections.at(section.sh_link);
        const std::size_t count = section.sh_size / section.sh_entsize;
        for (std::size_t i = 0; i < count; ++i) {
            Sym symbol;
            std::memcpy(&symbol, file.data() + section.sh_offset + i * section.sh_entsize, sizeof symbol);
            const unsigned char bind = Bind(symbol.st_info);
            const bool visible = (symbol.st_other & 3) == STV_DEFAULT || (symbol.st_other & 3) == STV_PROTECTED;
            if (symbol.st_shndx == SHN_UNDEF || !(bind == STB_GLOBAL || bind == STB_WEAK) || !visible) continue;
            names.insert(std::string(file.data() + strings.sh_offset + symbol.st_name));
        }
    }
    return names;
}

unsigned char Bind32(unsigned char info) { return ELF32_ST_BIND(info); }
unsigned char Bind64(unsigned char info) { return ELF64_ST_BIND(info); }

std::set<std::string> ExportedSymbols(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.size() < EI_NIDENT || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0) return {"(not an ELF file)"};
    if (file[EI_CLASS] == ELFCLASS64) return ExportedSymbols<Elf64_Ehdr, Elf64_Shdr, Elf64_Sym, Bind64>(file);
    return ExportedSymbols<Elf32_Ehdr, Elf32_Shdr, Elf32_Sym, Bind32>(file);
}

class Module : public ::testing::Test {
protected:
    void SetUp() override {
        handle = dlopen(LOWPASS_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        getFilterTable = reinterpret_cast<GetFilterTableFunc>(dlsym(handle, "GetFilterTable"));
        ASSERT_NE(getFilterTable, nullptr) << dlerror();
    }
    void TearDown() override {
        if (handle != nullptr) {
            EXPECT_EQ(dlclose(handle), 0) << dlerror();
        }
    }
    void* handle = nullptr;
    GetFilterTableFunc getFilterTable = nullptr;
};

// The same settings and frame through the filter linked into this program.
GuardedFrame LinkedResult(const GuardedFrame& source, const int (&track)[3], const int (&check)[5]) {
    StandInHost host(GetFilterTable());
    host.SetTrack(track[0], track[1], track[2]);
    host.SetCheck(check[0], check[1], check[2], check[3], check[4]);
    host.filter.func_update(&host.filter, 0);
    FramePair frames(source.w(), source.h(), source.maxW(), source.maxH());
    frames.edit.CopyPicture(source);
    host.filter.func_proc(&host.filter, &frames.info);
    GuardedFrame result(source.w(), source.h(), source.maxW(), source.maxH(), 9);
    result.CopyPicture(frames.Result());
    return result;
}

}  // namespace

TEST_F(Module, ExportsExactlyGetFilterTable) {
    EXPECT_EQ(ExportedSymbols(LOWPASS_MODULE_PATH), (std::set<std::string>{"GetFilterTable"}));
    // The filter's own functions stay inside.
    EXPECT_EQ(dlsym(handle, "_ZN7lowpass14UpdateSettingsEP6FILTERi"), nullptr);
}

TEST_F(Module, DrivenLikeTheHostItFiltersAsTheLinkedFilterDoes) {
    FILTER_DLL* table = getFilterTable();
    ASSERT_NE(table, nullptr);
    EXPECT_NE(table, GetFilterTable()) << "the module has a descriptor of its own";
    EXPECT_EQ(table->flag, 0x00080000);
    EXPECT_EQ(std::string(table->name), std::string(GetFilterTable()->name));
    ASSERT_EQ(table->track_n, 3);
    ASSERT_EQ(table->check_n, 5);

    const FilterProcFunc scalarDriver = table->func_proc;
    StandInHost host(table);
    ASSERT_EQ(host.track[0], 320);
    ASSERT_EQ(host.check[4], 1);

    GuardedFrame source(720, 480, 736, 484, 4);
    const lowpass::testing::TestSeed seed(23);
    source.FillRandom(seed, -2048, 4096);
    std::string where;

    // Freshly loaded, before any settings update: the scalar driver with
    // zero window weights passes the frame through unchanged.
    {
        FramePair frames(720, 480, 736, 484);
        frames.edit.CopyPicture(source);
        EXPECT_EQ(host.filter.func_proc(&host.filter, &frames.info), TRUE);
        EXPECT_TRUE(frames.ResultIsOriginalEdit());
        EXPECT_TRUE(frames.Result().PictureEquals(source, &where)) << where;
        EXPECT_TRUE(frames.edit.SentinelsIntact(&where)) << where;
        EXPECT_TRUE(frames.temp.SentinelsIntact(&where)) << where;
    }

    // First settings update with the defaults: Blackman remembered, one
    // refresh, an engine chosen into the host's record.
    EXPECT_EQ(host.filter.func_update(&host.filter, 0), TRUE);
    EXPECT_EQ(host.windowUpdateCalls, 1);
    EXPECT_EQ(table->func_proc, scalarDriver) << "the descriptor keeps the portable driver";
    if (lowpass::ComposeCpuCaps() != 0) {
        EXPECT_NE(host.filter.func_proc, scalarDriver);
    }

    auto runFrame = [&](const GuardedFrame& picture) {
        FramePair frames(720, 480, 736, 484);
        frames.edit.CopyPicture(picture);
        host.filter.func_proc(&host.filter, &frames.info);
        EXPECT_TRUE(frames.edit.SentinelsIntact(&where)) << where;
        EXPECT_TRUE(frames.temp.SentinelsIntact(&where)) << where;
        GuardedFrame result(720, 480, 736, 484, 9);
        result.CopyPicture(frames.Result());
        return result;
    };
    const GuardedFrame blackman = runFrame(source);
    EXPECT_FALSE(blackman.PictureEquals(source));
    EXPECT_TRUE(blackman.PictureEquals(LinkedResult(source, {320, 240, 3}, {1, 0, 0, 0, 1}), &where)) << where;

    // A setting change: Hanning ticked and more taps.
    host.check[2] = 1;
    host.track[2] = 8;
    host.windowUpdateCalls = 0;
    host.filter.func_update(&host.filter, 0);
    EXPECT_EQ(host.windowUpdateCalls, 1);
    EXPECT_EQ(host.check[4], 0);
    EXPECT_EQ(host.check[2], 1);
    const GuardedFrame hanning = runFrame(source);
    EXPECT_FALSE(hanning.PictureEquals(blackman));
    EXPECT_TRUE(hanning.PictureEquals(LinkedResult(source, {320, 240, 8}, {1, 0, 1, 0, 0}), &where)) << where;

    // SIMD off: the portable engine.
    host.check[0] = 0;
    host.filter.func_update(&host.filter, 0);
    EXPECT_EQ(host.filter.func_proc, scalarDriver);

    // A SizeRequest through the window procedure, then a key message.
    host.windowUpdateCalls = 0;
    EXPECT_EQ(host.filter.func_WndProc(nullptr, 0x04C8, 1, 0x00300040, nullptr, &host.filter), TRUE);
    EXPECT_EQ(host.track[0], 64);
    EXPECT_EQ(host.track[1], 48);
    EXPECT_EQ(host.windowUpdateCalls, 1);
    EXPECT_EQ(host.isActiveCalls, 1);
    const GuardedFrame small = runFrame(source);
    EXPECT_TRUE(small.PictureEquals(LinkedResult(source, {64, 48, 8}, {0, 0, 1, 0, 0}), &where)) << where;

    EXPECT_EQ(host.filter.func_WndProc(nullptr, 0x0100, 0x41, 0x001E0001, nullptr, &host.filter), FALSE);
    EXPECT_EQ(host.track[0], 64);
    EXPECT_EQ(host.track[1], 48);
    EXPECT_EQ(host.windowUpdateCalls, 1);

    // A second call returns the same record.
    EXPECT_EQ(getFilterTable(), table);
}
