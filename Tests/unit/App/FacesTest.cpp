// The layering of Source/ as a test: every #include line against the layer rules, and the faces
// and "uses:" lines of the App folders (Source/App/FACES).
#include <gtest/gtest.h>

#include <fstream>

#include "support/TestPaths.h"
#include "unit/App/LayeringRules.h"

using kxtest::LayeringRules;

namespace {

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines)
        text += "\n  " + line;
    return text;
}

void write(const std::filesystem::path& path, const std::string& text)
{
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

} // namespace

TEST(Faces, SourceTreeKeepsTheLayering)
{
    const auto source = kxtest::testSourceDir().parent_path() / "Source";
    std::vector<std::string> errors;
    const auto rules = LayeringRules::fromFacesFile(source / "App" / "FACES", source, errors);
    EXPECT_TRUE(errors.empty()) << joined(errors);

    const auto scan = rules.scanTree(source);
    EXPECT_TRUE(scan.breaks.empty()) << "includes that break the layering:" << joined(scan.breaks);
    // A wrong folder or a pattern that matches nothing would pass silently.
    EXPECT_GT(scan.files, 150);
    EXPECT_GT(scan.includes, 300);
}

TEST(Faces, EachRuleCatchesItsBreak)
{
    kxtest::TemporaryDirectory root;
    for (const char* header : {"Platform/Foundation/Error.h", "Platform/UI/Window.h", "Services/runtime/Router.h",
                               "Services/generated/Beep.h", "App/shell/RKLog.h", "App/shell/Private.h",
                               "App/web/Page.h", "App/archive/zip/Reader.h"})
        write(root / header, "#pragma once\n");
    write(root / "App" / "FACES", "# faces\nApp/shell uses:\nApp/web uses: App/shell App/archive\nApp/archive uses:\n"
                                  "App/shell/RKLog.h   # the log\n\n");
    write(root / "Platform/UI/Window.cpp", "#include \"Platform/UI/Window.h\"\n"
                                           "#include <gtk/gtk.h>\n"
                                           "#include \"Services/runtime/Router.h\"\n"
                                           "  #  include <App/shell/RKLog.h>\n");
    write(root / "Services/runtime/Router.cpp", "#include \"Platform/Foundation/Error.h\"\n"
                                                "#include \"Services/runtime/Router.h\"\n"
                                                "#include \"Platform/UI/Window.h\"\n"
                                                "#include \"Services/generated/Beep.h\"\n");
    write(root / "Services/generated/Beep.cpp", "#include \"Services/runtime/Router.h\"\n"
                                                "#include \"Platform/UI/Window.h\"\n"
                                                "#include \"App/shell/RKLog.h\"\n");
    write(root / "App/web/Page.cpp", "#include \"App/web/Page.h\"\n"
                                     "#include \"Page.h\"\n"
                                     "#include \"App/shell/RKLog.h\"\n"
                                     "#include \"Services/generated/Beep.h\"\n"
                                     "#include \"App/shell/Private.h\"\n"
                                     "#include \"../shell/Private.h\"\n"
                                     "#include \"App/web/../archive/zip/Reader.h\"\n");
    write(root / "App/archive/Archive.cpp", "#include \"App/archive/zip/Reader.h\"\n#include \"App/shell/RKLog.h\"\n");
    write(root / "main.cpp", "#include \"App/shell/RKLog.h\"\n#include \"App/web/Page.h\"\n");

    std::vector<std::string> errors;
    const auto rules = LayeringRules::fromFacesFile(root / "App" / "FACES", root.path(), errors);
    EXPECT_TRUE(errors.empty()) << joined(errors);
    const auto scan = rules.scanTree(root.path());
    EXPECT_EQ(scan.files, 14);
    const std::vector<std::string> expected = {
        "App/archive/Archive.cpp:2: includes App/shell/RKLog.h: App/archive does not use App/shell (Source/App/FACES)",
        "App/web/Page.cpp:5: includes App/shell/Private.h: not in the face of App/shell (Source/App/FACES)",
        "App/web/Page.cpp:6: includes App/shell/Private.h: not in the face of App/shell (Source/App/FACES)",
        "App/web/Page.cpp:7: includes App/archive/zip/Reader.h: not in the face of App/archive (Source/App/FACES)",
        "Platform/UI/Window.cpp:3: includes Services/runtime/Router.h: Platform includes nothing of Services or App",
        "Platform/UI/Window.cpp:4: includes App/shell/RKLog.h: Platform includes nothing of Services or App",
        "Services/generated/Beep.cpp:3: includes App/shell/RKLog.h: Services includes nothing of App",
        "Services/runtime/Router.cpp:3: includes Platform/UI/Window.h: "
        "Services/runtime includes only Platform/Foundation and itself",
        "Services/runtime/Router.cpp:4: includes Services/generated/Beep.h: "
        "Services/runtime includes only Platform/Foundation and itself",
        "main.cpp:2: includes App/web/Page.h: not in the face of App/web (Source/App/FACES)",
    };
    EXPECT_EQ(scan.breaks, expected);
}

TEST(Faces, FaceEntriesMustBeExistingAppHeaders)
{
    kxtest::TemporaryDirectory root;
    write(root / "App/shell/RKLog.h", "");
    write(root / "Platform/UI/Window.h", "");
    write(root / "App" / "FACES", "App/shell uses:\n"
                                  "App/shell/RKLog.h\n"
                                  "App/shell/Gone.h\n"
                                  "Platform/UI/Window.h\n"
                                  "App/RKLog.h\n"
                                  "App/web/../shell/RKLog.h\n"
                                  "App/shell/RKLog.cpp\n");
    std::vector<std::string> errors;
    const auto rules = LayeringRules::fromFacesFile(root / "App" / "FACES", root.path(), errors);
    const std::vector<std::string> expected = {
        "FACES:3: App/shell/Gone.h does not exist",
        "FACES:4: Platform/UI/Window.h is no header of an App folder",
        "FACES:5: App/RKLog.h is no header of an App folder",
        "FACES:6: App/web/../shell/RKLog.h is no header of an App folder",
        "FACES:7: App/shell/RKLog.cpp is no header of an App folder",
    };
    EXPECT_EQ(errors, expected);
    EXPECT_FALSE(rules.breakOf("App/web/Page.cpp", "App/shell/RKLog.h"));

    std::vector<std::string> missing;
    LayeringRules::fromFacesFile(root / "NOFACES", root.path(), missing);
    EXPECT_EQ(missing.size(), 1u);
}

TEST(Faces, FoldersUseOneWayAndFacesHideWhatIsBehindThem)
{
    kxtest::TemporaryDirectory root;
    write(root / "App" / "FACES", "App/shell uses:   # the floor\n"
                                  "App/shell/widgets uses: App/shell\n"
                                  "App/shell/welcome uses: App/shell App/shell/widgets App/web\n"
                                  "App/web uses: App/shell\n"
                                  "App/account uses: App/web App/shell\n"
                                  "App/shell/Log.h\nApp/shell/widgets/Button.h\nApp/shell/welcome/Window.h\n"
                                  "App/web/Page.h\nApp/web/Frame.h\nApp/account/Login.h\n");
    for (const char* header : {"App/shell/Log.h", "App/shell/welcome/Window.h", "App/shell/widgets/View.h",
                               "App/web/Detail.h", "App/account/Login.h"})
        write(root / header, "#pragma once\n");
    // The floor reaches up to a sub-folder of its own.
    write(root / "App/shell/Log.cpp", "#include \"App/shell/widgets/View.h\"\n");
    // A face shows what it includes of its folder: View.h is seen through Button.h.
    write(root / "App/shell/widgets/Button.h", "#include \"App/shell/Log.h\"\n#include \"View.h\"\n");
    // Within shell a sub-folder reaches the workings of the sub-folders it uses.
    write(root / "App/shell/welcome/Window.cpp", "#include \"App/shell/widgets/View.h\"\n"
                                                 "#include \"App/web/Page.h\"\n"
                                                 "#include \"App/account/Login.h\"\n");
    // Through one face and another to what is behind the second.
    write(root / "App/web/Page.h", "#include \"Frame.h\"\n#include \"App/account/Login.h\"\n");
    write(root / "App/web/Frame.h", "#include \"App/web/Detail.h\"\n");
    // Using App/shell is not using its sub-folders that have a line of their own.
    write(root / "App/account/Login.cpp", "#include \"App/web/Page.h\"\n#include \"App/shell/welcome/Window.h\"\n");
    write(root / "main.cpp", "#include \"App/shell/welcome/Window.h\"\n#include \"App/account/Login.h\"\n");

    std::vector<std::string> errors;
    const auto rules = LayeringRules::fromFacesFile(root / "App" / "FACES", root.path(), errors);
    EXPECT_TRUE(errors.empty()) << joined(errors);
    EXPECT_EQ(rules.folderOf("App/shell/widgets/View.h"), "App/shell/widgets");
    EXPECT_EQ(rules.folderOf("App/shell/Log.h"), "App/shell");
    EXPECT_EQ(rules.folderOf("main.cpp"), "");
    const std::vector<std::string> expected = {
        "App/account/Login.cpp:2: includes App/shell/welcome/Window.h: "
        "App/account does not use App/shell/welcome (Source/App/FACES)",
        "App/shell/Log.cpp:1: includes App/shell/widgets/View.h: App/shell does not use App/shell/widgets (Source/App/FACES)",
        "App/shell/welcome/Window.cpp:3: includes App/account/Login.h: "
        "App/shell/welcome does not use App/account (Source/App/FACES)",
        "App/shell/widgets/Button.h:2: includes App/shell/widgets/View.h: "
        "not in the face of App/shell, yet reached through it (Source/App/FACES)",
        "App/web/Frame.h:1: includes App/web/Detail.h: not in the face of App/web, yet reached through it (Source/App/FACES)",
        "App/web/Page.h:2: includes App/account/Login.h: App/web does not use App/account (Source/App/FACES)",
    };
    EXPECT_EQ(rules.scanTree(root.path()).breaks, expected);
}

TEST(Faces, UsesLinesNameFoldersAndRunOneWay)
{
    kxtest::TemporaryDirectory root;
    for (const char* folder : {"shell/widgets", "web", "account", "editor", "preview"})
        std::filesystem::create_directories(root / ("App/" + std::string(folder)));
    write(root / "App" / "FACES", "App/shell uses:\n"
                                  "App/web uses: App/account App/shell\n"
                                  "App/account uses: App/web\n"
                                  "App/editor uses: App/gone App/editor App/shell/widgets\n"
                                  "App/web uses: App/shell\n"
                                  "App/nothing uses: App/shell\n");
    std::vector<std::string> errors;
    LayeringRules::fromFacesFile(root / "App" / "FACES", root.path(), errors);
    const std::vector<std::string> expected = {
        "FACES:4: App/gone is no App folder",
        "FACES:4: App/editor uses itself",
        "FACES:5: App/web has a second uses: line",
        "FACES:6: App/nothing is no App folder",
        "FACES:4: App/shell/widgets has no uses: line of its own",
        "FACES: App/preview has no uses: line",
        "FACES: the uses: lines run in a circle: App/account -> App/web -> App/account",
    };
    EXPECT_EQ(errors, expected);
}
