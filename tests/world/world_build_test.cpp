// Building the world from markup: which images and elements exist, in which
// order, and what each element is bound to.

#include <gtest/gtest.h>

#include <string>

#include "world/elements.hpp"
#include "world/images.hpp"
#include "world/world.hpp"
#include "world_fixture.hpp"

using namespace tolvane;

namespace {

std::vector<std::string> catalogue(const World& world) {
    std::vector<std::string> out;
    for (const auto& image : world.images) out.push_back(std::string(image->typeName()) + ":" + image->name.data());
    return out;
}

std::vector<std::string> elementTypes(const World& world) {
    std::vector<std::string> out;
    for (const auto& element : world.elements) out.push_back(element->typeName());
    return out;
}

class WorldBuild : public ::testing::Test {
protected:
    void SetUp() override {
        writeFlatDepthText("a.txt", 4, 3, '5');
        writeFlatDepthText("b.txt", 8, 6, '7');
        writeFlatDepthText("sheet.txt", 100, 48, '3');
    }
    ScratchFolder folder;
};

TEST_F(WorldBuild, CataloguesKnownImageTypesInDocumentOrderAndSkipsOthersSilently) {
    World world;
    WorldProblems problems = buildFrom(world,
        "<World>"
        "<image type=\"scene\" name=\"s\" file=\"a.txt\" />"
        "<image type=\"sprite\" name=\"p\" file=\"b.txt\" sizex=\"4\" sizey=\"3\" />"
        "<image type=\"logo\" name=\"l\" file=\"a.txt\" />"
        "<image type=\"Scene\" name=\"caps\" file=\"a.txt\" />"
        "</World>");
    EXPECT_EQ(catalogue(world), (std::vector<std::string>{"scene:s", "sprite:p"}));
    EXPECT_TRUE(problems.empty()) << problemLine(problems[0]);
}

TEST_F(WorldBuild, FindsImagesAndElementsNestedAtAnyDepth) {
    World world;
    buildFrom(world,
        "<World><group><image type=\"scene\" name=\"deep\" file=\"a.txt\" />"
        "<more><element type=\"scene\" imagename=\"deep\" x=\"1\" y=\"2\" /></more></group>"
        "<image type=\"scene\" name=\"top\" file=\"b.txt\" /></World>");
    EXPECT_EQ(catalogue(world), (std::vector<std::string>{"scene:deep", "scene:top"}));
    ASSERT_EQ(world.elements.count(), 1);
    const auto& scene = static_cast<const SceneElement&>(world.elements[0]);
    EXPECT_EQ(scene.image, &world.images[0]);
    EXPECT_EQ(scene.x, 1);
    EXPECT_EQ(scene.y, 2);
}

TEST_F(WorldBuild, ElementBindsToAnImageWrittenAfterIt) {
    World world;
    WorldProblems problems = buildFrom(world,
        "<World><element type=\"ani\" imagename=\"later\" x=\"0\" y=\"0\" fps=\"1\" startframe=\"0\" />"
        "<image type=\"sprite\" name=\"later\" file=\"sheet.txt\" sizex=\"32\" sizey=\"48\" /></World>");
    EXPECT_TRUE(problems.empty());
    ASSERT_EQ(world.elements.count(), 1);
    EXPECT_EQ(static_cast<const AniElement&>(world.elements[0]).image, &world.images[0]);
    EXPECT_EQ(world.images[0].useCount, 1);
}

TEST_F(WorldBuild, DuplicateNameBindsEveryElementToTheFirstImage) {
    World world;
    WorldProblems problems = buildFrom(world,
        "<World><image type=\"scene\" name=\"x\" file=\"a.txt\" />"
        "<image type=\"scene\" name=\"x\" file=\"b.txt\" />"
        "<element type=\"scene\" imagename=\"x\" x=\"0\" y=\"0\" />"
        "<element type=\"scene\" imagename=\"x\" x=\"5\" y=\"0\" /></World>");
    ASSERT_EQ(world.images.count(), 2);
    EXPECT_EQ(world.findImage("x"), &world.images[0]);
    EXPECT_EQ(world.images[0].map->area.w, 4);
    EXPECT_EQ(world.images[0].useCount, 2);
    EXPECT_EQ(world.images[1].useCount, 0);
    ASSERT_EQ(kindsOf(problems), std::vector<WorldProblemKind>{WorldProblemKind::DuplicateImageName});
    EXPECT_EQ(problems[0].element, "image 2 \"x\"");
}

TEST_F(WorldBuild, ElementsKeepDocumentOrderAndUnknownTypesAreSkipped) {
    World world;
    buildFrom(world,
        "<World><image type=\"sprite\" name=\"p\" file=\"sheet.txt\" sizex=\"32\" sizey=\"48\" />"
        "<image type=\"scene\" name=\"s\" file=\"a.txt\" />"
        "<element type=\"char\" imagename=\"p\" x=\"0\" y=\"0\" fps=\"1\" startframe=\"0\" />"
        "<element type=\"ghost\" imagename=\"p\" />"
        "<element type=\"scene\" imagename=\"s\" x=\"0\" y=\"0\" />"
        "<element type=\"ani\" imagename=\"p\" x=\"0\" y=\"0\" fps=\"1\" startframe=\"0\" /></World>");
    EXPECT_EQ(elementTypes(world), (std::vector<std::string>{"char", "scene", "ani"}));
    EXPECT_EQ(world.images[0].useCount, 2);
}

TEST_F(WorldBuild, UsesTheFirstWorldInsideAnotherRoot) {
    World world;
    buildFrom(world,
        "<scene><image type=\"scene\" name=\"outside\" file=\"a.txt\" />"
        "<World><image type=\"scene\" name=\"inside\" file=\"a.txt\" /></World>"
        "<World><image type=\"scene\" name=\"second\" file=\"a.txt\" /></World></scene>");
    EXPECT_EQ(catalogue(world), (std::vector<std::string>{"scene:inside"}));
}

TEST_F(WorldBuild, WithoutWorldNothingIsBuiltAndTheCameraStays) {
    World world;
    world.cameraX = 5;
    world.cameraY = -6;
    world.build(nullptr);
    buildFrom(world, "<Universe><image type=\"scene\" name=\"s\" file=\"a.txt\" /></Universe>");
    EXPECT_TRUE(world.images.empty());
    EXPECT_EQ(world.cameraX, 5);
    EXPECT_EQ(world.cameraY, -6);

    buildFrom(world, "<World />");
    EXPECT_EQ(world.cameraX, 0);
    EXPECT_EQ(world.cameraY, 0);
}

TEST_F(WorldBuild, SpriteSheetIsCutIntoWholeFrames) {
    World world;
    buildFrom(world,
        "<World><image type=\"sprite\" name=\"p\" file=\"sheet.txt\" sizex=\"32\" sizey=\"48\" />"
        "<image type=\"sprite\" name=\"q\" file=\"sheet.txt\" sizex=\"33\" sizey=\"20\" /></World>");
    const auto& p = static_cast<const SpriteImage&>(world.images[0]);
    const auto& q = static_cast<const SpriteImage&>(world.images[1]);
    EXPECT_EQ(p.framesAcross, 3);  // 100 / 32: the last 4 columns are never shown
    EXPECT_EQ(p.framesDown, 1);
    EXPECT_EQ(q.framesAcross, 3);
    EXPECT_EQ(q.framesDown, 2);

    Rect r;
    p.placedRect(r, 100, 200);
    EXPECT_EQ((std::vector<int>{r.x, r.y, r.w, r.h}), (std::vector<int>{84, 152, 32, 48}));
    writeFlatDepthText("wide.txt", 66, 48, '3');
    World other;
    buildFrom(other, "<World><image type=\"sprite\" name=\"p\" file=\"wide.txt\" sizex=\"33\" sizey=\"48\" /></World>");
    static_cast<const SpriteImage&>(other.images[0]).placedRect(r, 100, 200);
    EXPECT_EQ((std::vector<int>{r.x, r.y, r.w, r.h}), (std::vector<int>{84, 152, 33, 48}));
    p.frameRect(r, 2, 0);
    EXPECT_EQ((std::vector<int>{r.x, r.y, r.w, r.h}), (std::vector<int>{64, 0, 32, 48}));
}

TEST_F(WorldBuild, SceneImageLosesItsSlopeAtLoad) {
    std::vector<std::string> rows(46, "5");
    rows[45] = " ";
    // Above 31 ("!" gives 235, "V" 32) counts as 31, the nearest depth.
    rows[1] = "!";
    rows[16] = "V";
    writeDepthText("tall.txt", rows);
    World world;
    buildFrom(world, "<World><image type=\"scene\" name=\"t\" file=\"tall.txt\" /></World>");
    const DepthMap& map = *world.images[0].map;
    EXPECT_EQ(at(map, 0, 1), 31);
    EXPECT_EQ(at(map, 0, 14), 5);
    EXPECT_EQ(at(map, 0, 15), 4);
    EXPECT_EQ(at(map, 0, 16), 30);
    EXPECT_EQ(at(map, 0, 44), 3);
    EXPECT_EQ(at(map, 0, 45), 253);  // 0 - 3, wrapping; the scene blit adds it back
}

TEST_F(WorldBuild, ElementTeardownGivesBackItsImageUse) {
    World world;
    buildFrom(world,
        "<World><image type=\"sprite\" name=\"p\" file=\"sheet.txt\" sizex=\"32\" sizey=\"48\" />"
        "<image type=\"scene\" name=\"s\" file=\"a.txt\" /></World>");
    auto markup = parseMarkup(
        "<element type=\"ani\" imagename=\"p\" x=\"0\" y=\"0\" fps=\"1\" startframe=\"0\" />");
    auto sceneMarkup = parseMarkup("<element type=\"scene\" imagename=\"s\" x=\"0\" y=\"0\" />");
    WorldProblems problems;
    {
        CharElement walker;
        AniElement ball;
        SceneElement ground;
        walker.world = ball.world = ground.world = &world;
        walker.load(*markup, problems);
        ball.load(*markup, problems);
        ground.load(*sceneMarkup, problems);
        EXPECT_EQ(world.images[0].useCount, 2);
        EXPECT_EQ(world.images[1].useCount, 1);
    }
    EXPECT_EQ(world.images[0].useCount, 0);
    EXPECT_EQ(world.images[1].useCount, 0);
    EXPECT_TRUE(problems.empty());
}

}  // namespace
