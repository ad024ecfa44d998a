// The save panel's name as the format changes: what is the format's extension and what is part
// of the name.
#include <gtest/gtest.h>

#include "Platform/Documents/DocumentControllerBase.h"

namespace {

using kx::DocumentControllerBase;
using kx::DocumentType;

const DocumentType zip{"com.example.zip", "Project", {"korvelx"}, DocumentType::Kind::file, true, {}};
const DocumentType folder{"com.example.folder", "Project Folder", {}, DocumentType::Kind::folder, true, {}};
const DocumentType text{"com.example.text", "Notes", {"txt", "text"}, DocumentType::Kind::file, true, {}};

std::string follow(const std::string& name, const DocumentType& from, const DocumentType& to)
{
    return DocumentControllerBase::nameForFormat(name, from, to);
}

} // namespace

TEST(SavePanelName, TheFormatsExtensionGoesAndComesTheRestOfTheNameStays)
{
    EXPECT_EQ(follow("Site.korvelx", zip, folder), "Site");
    EXPECT_EQ(follow("Site.KORVELX", zip, folder), "Site");
    EXPECT_EQ(follow("Site", folder, zip), "Site.korvelx");
    // Another extension is part of the name.
    EXPECT_EQ(follow("Site.v2", zip, folder), "Site.v2");
    EXPECT_EQ(follow("Site.v2", folder, zip), "Site.v2.korvelx");
    EXPECT_EQ(follow("Site.korvelx", zip, text), "Site.txt");
    // An extension the new format takes as well stays as typed.
    EXPECT_EQ(follow("Notes.TEXT", folder, text), "Notes.TEXT");
    // The same format only completes the name.
    EXPECT_EQ(follow("Site", zip, zip), "Site.korvelx");
    EXPECT_EQ(follow("Site.KorvelX", zip, zip), "Site.KorvelX");
    EXPECT_EQ(follow("Site.korvelx", folder, folder), "Site.korvelx");
    // Nothing typed stays nothing; a name that is only a dot name is no extension.
    EXPECT_EQ(follow("", folder, zip), "");
    EXPECT_EQ(follow(".korvelx", zip, folder), ".korvelx");
}
