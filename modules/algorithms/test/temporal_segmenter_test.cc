// Temporal segmentation on small synthetic scenes: the background model's life cycle, reset and
// history switch, and the cleaner's rule that depth must support every kept part.
#include "algorithms/temporal_segmenter.h"

#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "gl_test.h"

namespace vantisol {
namespace {

const Size kSize{128, 96};

using Colour = std::array<uint8_t, 3>;

// The room: a smooth gradient that never moves.
Colour Room(int x, int y) { return {uint8_t(40 + x / 2), uint8_t(60 + y), uint8_t(90)}; }

struct Scene {
  std::function<Colour(int, int)> colour = Room;
  std::function<uint8_t(int, int)> trimap = [](int, int) { return uint8_t(0); };
};

// A person standing in the rectangle [x0, x1) x [y0, y1), known by depth inside, unknown in a
// band of 4 pixels around it.
Scene Person(int x0, int x1, int y0, int y1) {
  Scene scene;
  scene.colour = [=](int x, int y) {
    return x >= x0 && x < x1 && y >= y0 && y < y1 ? Colour{200, 150, 120} : Room(x, y);
  };
  scene.trimap = [=](int x, int y) {
    if (x >= x0 && x < x1 && y >= y0 && y < y1) return uint8_t(255);
    if (x >= x0 - 4 && x < x1 + 4 && y >= y0 - 4 && y < y1 + 4) return uint8_t(128);
    return uint8_t(0);
  };
  return scene;
}

class TemporalSegmenterTest : public testing::Test {
 protected:
  // Runs one frame of the scene through a segmenter; returns its mask.
  std::vector<uint8_t> Process(algorithms::TemporalSegmenter& segmenter, const Scene& scene) {
    Image colour(kSize, Image::Format::kRGBA), trimap(kSize, Image::Format::kGray8);
    for (int y = 0; y < kSize.height; ++y) {
      for (int x = 0; x < kSize.width; ++x) {
        const Colour c = scene.colour(x, y);
        uint8_t* p = colour.data.get() + 4 * (y * kSize.width + x);
        p[0] = c[0], p[1] = c[1], p[2] = c[2], p[3] = 255;
        trimap.data.get()[y * kSize.width + x] = scene.trimap(x, y);
      }
    }
    colour_.Assign(colour);
    trimap_.Assign(trimap);
    segmenter.Process(colour_, trimap_, result_);
    return Grey(result_);
  }
  static std::vector<uint8_t> Grey(const Texture& texture) {
    const Image image = texture.Download(Image::Format::kGray8);
    return std::vector<uint8_t>(image.data.get(),
                                image.data.get() + image.size.width * image.size.height);
  }
  static std::vector<uint8_t> Rgba(const Texture& texture) {
    const Image image = texture.Download(Image::Format::kRGBA);
    return std::vector<uint8_t>(image.data.get(),
                                image.data.get() + 4 * image.size.width * image.size.height);
  }
  static int ModelAlpha(algorithms::TemporalSegmenter& segmenter, int x, int y) {
    return Rgba(*segmenter.background_model())[4 * (y * kSize.width + x) + 3];
  }
  // How many pixels of the rectangle the mask holds as person.
  static int PersonIn(const std::vector<uint8_t>& mask, int x0, int x1, int y0, int y1) {
    int count = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x) count += mask[y * kSize.width + x] == 255;
    return count;
  }

  Texture colour_{Image::Format::kRGBA};
  Texture trimap_{Image::Format::kGray8};
  Texture result_{Image::Format::kGray8};
};

TEST_F(TemporalSegmenterTest, ConfidenceGrowsOneStepPerStaticFrameUpToFull) {
  algorithms::TemporalSegmenter segmenter;
  const Scene scene = Person(50, 80, 30, 96);
  std::vector<uint8_t> mask = Process(segmenter, scene);
  // First frame: no model yet, so the trimap is used as it is; the model then holds the
  // background once.
  EXPECT_EQ(Grey(segmenter.improved_trimap()), Grey(trimap_));
  ASSERT_NE(segmenter.background_model(), nullptr);
  EXPECT_EQ(ModelAlpha(segmenter, 5, 5), 1);
  EXPECT_EQ(ModelAlpha(segmenter, 60, 60), 0);  // under the person
  for (int frame = 2; frame <= 254; ++frame) mask = Process(segmenter, scene);
  EXPECT_EQ(ModelAlpha(segmenter, 5, 5), 254);
  mask = Process(segmenter, scene);
  EXPECT_EQ(ModelAlpha(segmenter, 5, 5), 255);
  EXPECT_EQ(ModelAlpha(segmenter, 120, 90), 255);
  mask = Process(segmenter, scene);
  EXPECT_EQ(ModelAlpha(segmenter, 5, 5), 255);
  // The model's colour is the room's.
  const auto model = Rgba(*segmenter.background_model());
  EXPECT_EQ(model[4 * (5 * kSize.width + 5)], Room(5, 5)[0]);
  EXPECT_EQ(PersonIn(mask, 50, 80, 30, 96), 30 * 66);
  EXPECT_EQ(PersonIn(mask, 0, 40, 0, 96), 0);
}

TEST_F(TemporalSegmenterTest, ColourChangeForgetsAndDisagreementClearsThePixel) {
  algorithms::TemporalSegmenter segmenter;
  for (int frame = 0; frame < 10; ++frame) Process(segmenter, Scene());
  ASSERT_EQ(ModelAlpha(segmenter, 20, 20), 10);
  Scene changed;
  // Left: +15 in red (squared distance 0.0035, kept); middle: +30 (0.0138, forgotten).
  changed.colour = [](int x, int y) {
    Colour c = Room(x, y);
    if (x < 40) c[0] = uint8_t(c[0] + 15);
    if (x >= 40 && x < 80) c[0] = uint8_t(c[0] + 30);
    return c;
  };
  // Right: depth says person where the colour is the remembered background.
  changed.trimap = [](int x, int) { return uint8_t(x >= 100 ? 255 : 0); };
  Process(segmenter, changed);
  EXPECT_EQ(ModelAlpha(segmenter, 20, 20), 11);
  EXPECT_EQ(ModelAlpha(segmenter, 60, 20), 0);
  EXPECT_EQ(ModelAlpha(segmenter, 120, 20), 0);
}

TEST_F(TemporalSegmenterTest, AfterResetTheNextFrameIsAFirstOne) {
  // Noisy colours and a wide unknown band, so that the model and the previous frame matter.
  auto noisy = [](unsigned seed) {
    Scene scene = Person(40, 90, 20, 96);
    scene.colour = [seed, base = scene.colour](int x, int y) {
      Colour c = base(x, y);
      const unsigned n = (unsigned(x) * 7919u + unsigned(y) * 104729u + seed * 1299709u) % 61u;
      c[1] = uint8_t(std::clamp(int(c[1]) + int(n) - 30, 0, 255));
      return c;
    };
    scene.trimap = [](int x, int y) {
      if (x >= 50 && x < 80 && y >= 30) return uint8_t(255);
      if (x >= 30 && x < 100 && y >= 10) return uint8_t(128);
      return uint8_t(0);
    };
    return scene;
  };
  algorithms::TemporalSegmenter used, kept, fresh;
  for (unsigned f = 1; f <= 3; ++f) {
    Process(used, noisy(f));
    Process(kept, noisy(f));
  }
  used.Reset();
  EXPECT_EQ(used.background_model(), nullptr);
  auto state = [this](algorithms::TemporalSegmenter& segmenter, const Scene& scene) {
    const auto mask = Process(segmenter, scene);
    return std::make_tuple(mask, Grey(segmenter.segmentation()), Grey(segmenter.improved_trimap()),
                           Rgba(*segmenter.background_model()));
  };
  const auto after_reset = state(used, noisy(4));
  const auto first = state(fresh, noisy(4));
  const auto without_reset = state(kept, noisy(4));
  EXPECT_EQ(std::get<0>(after_reset), std::get<0>(first));
  EXPECT_EQ(std::get<1>(after_reset), std::get<1>(first));
  EXPECT_EQ(std::get<2>(after_reset), std::get<2>(first));
  EXPECT_EQ(std::get<3>(after_reset), std::get<3>(first));
  // Without the reset the improved trimap and the model differ: the checks above mean something.
  EXPECT_NE(std::get<2>(without_reset), std::get<2>(first));
  EXPECT_NE(std::get<3>(without_reset), std::get<3>(first));
}

TEST_F(TemporalSegmenterTest, HistoryOffKeepsNoModel) {
  algorithms::TemporalSegmenter segmenter;
  const Scene scene = Person(50, 80, 30, 96);
  Process(segmenter, scene);
  ASSERT_NE(segmenter.background_model(), nullptr);
  segmenter.SetUseHistory(false);
  EXPECT_EQ(segmenter.background_model(), nullptr);
  for (int frame = 0; frame < 3; ++frame) {
    const auto mask = Process(segmenter, scene);
    EXPECT_EQ(segmenter.background_model(), nullptr);
    EXPECT_EQ(Grey(segmenter.improved_trimap()), Grey(trimap_));
    EXPECT_EQ(PersonIn(mask, 50, 80, 30, 96), 30 * 66);
  }
  segmenter.SetUseHistory(true);
  Process(segmenter, scene);
  ASSERT_NE(segmenter.background_model(), nullptr);
  EXPECT_EQ(ModelAlpha(segmenter, 5, 5), 1);
}

TEST_F(TemporalSegmenterTest, ResultIsNeverPersonWhereTheSegmentationIsNot) {
  algorithms::TemporalSegmenter segmenter;
  for (int frame = 0; frame < 6; ++frame) {
    const auto mask = Process(segmenter, Person(30 + 5 * frame, 70 + 5 * frame, 20, 96));
    const auto segmentation = Grey(segmenter.segmentation());
    for (size_t i = 0; i < mask.size(); ++i) {
      ASSERT_TRUE(mask[i] == 0 || mask[i] == 255) << i;
      if (segmentation[i] == 0) {
        ASSERT_EQ(mask[i], 0) << "frame " << frame << " pixel " << i;
      }
    }
  }
}

// A person who stood still for a while walks out; where depth is then unknown, the room must come
// back within a few frames, whether the model still remembers the room there or not.
TEST_F(TemporalSegmenterTest, RegionThePersonLeavesBecomesBackgroundAgain) {
  for (const int frames_present : {10, 40}) {
    SCOPED_TRACE(frames_present);
    algorithms::TemporalSegmenter segmenter;
    for (int frame = 0; frame < 20; ++frame) Process(segmenter, Scene());
    const Scene present = Person(50, 80, 30, 96);
    for (int frame = 0; frame < frames_present; ++frame) Process(segmenter, present);
    Scene left;
    left.trimap = [](int x, int y) { return uint8_t(x >= 46 && x < 84 && y >= 26 ? 128 : 0); };
    int frames = 0;
    std::vector<uint8_t> mask;
    do {
      mask = Process(segmenter, left);
      ++frames;
    } while (PersonIn(mask, 46, 84, 26, 96) > 0 && frames < 30);
    EXPECT_LE(frames, frames_present <= 20 ? 1 : 3);
  }
}

// No GL object warnings, missing uniforms or other lines once the operators are built.
TEST_F(TemporalSegmenterTest, SteadyStateLogsNothing) {
  algorithms::TemporalSegmenter segmenter;
  Process(segmenter, Person(50, 80, 30, 96));
  test::LogCapture log;
  for (int frame = 0; frame < 3; ++frame) Process(segmenter, Person(50 + frame, 80, 30, 96));
  segmenter.SetUseHistory(false);
  Process(segmenter, Person(50, 80, 30, 96));
  EXPECT_EQ(log.lines(), std::vector<std::string>());
}

TEST_F(TemporalSegmenterTest, MismatchedSizesFailTheCheck) {
  test::LogCapture log;
  algorithms::TemporalSegmenter segmenter;
  Texture colour(test::RandomImage({64, 48}, Image::Format::kRGBA, 1));
  Texture trimap(test::RandomImage({32, 48}, Image::Format::kGray8, 2));
  Texture result(Image::Format::kGray8);
  segmenter.Process(colour, trimap, result);
  EXPECT_EQ(log.CountPrefix("FATAL Check failed: [color_image.size() == trimap.size()]"), 1);
}

TEST(ForegroundCleanerTest, KeepsOnlyPartsTheDepthSupports) {
  // Two blobs in the segmentation, one of them touching sure person pixels of the trimap.
  Image segmentation({256, 128}, Image::Format::kGray8), trimap({256, 128}, Image::Format::kGray8);
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 256; ++x) {
      const bool left = x >= 16 && x < 96 && y >= 16 && y < 112;
      const bool right = x >= 160 && x < 240 && y >= 16 && y < 112;
      segmentation.data.get()[y * 256 + x] = left || right ? 255 : 0;
      trimap.data.get()[y * 256 + x] = x >= 32 && x < 80 && y >= 32 && y < 96 ? 255 : 128;
    }
  }
  algorithms::ForegroundCleaner cleaner;
  Texture segmentation_texture(segmentation), trimap_texture(trimap), result(Image::Format::kGray8);
  cleaner.Process(segmentation_texture, trimap_texture, result, 16);
  ASSERT_EQ(result.size(), (Size{256, 128}));
  const Image mask = result.Download();
  int left = 0, right = 0, outside = 0;
  for (int y = 0; y < 128; ++y) {
    for (int x = 0; x < 256; ++x) {
      const bool on = mask.data.get()[y * 256 + x] == 255;
      if (x >= 16 && x < 96 && y >= 16 && y < 112) {
        left += on;
      } else if (x >= 160 && x < 240 && y >= 16 && y < 112) {
        right += on;
      } else {
        outside += on;
      }
    }
  }
  EXPECT_EQ(left, 80 * 96);
  EXPECT_EQ(right, 0);
  EXPECT_EQ(outside, 0);
}

// Where the person stands the model's confidence falls one step a frame down to nothing and its
// colour stays the room's, while it keeps rising where the room is seen.
TEST_F(TemporalSegmenterTest, ConfidenceFallsUnderThePersonAndRisesAroundIt) {
  algorithms::TemporalSegmenter segmenter;
  for (int frame = 0; frame < 10; ++frame) Process(segmenter, Scene());
  ASSERT_EQ(ModelAlpha(segmenter, 65, 60), 10);
  const Scene person = Person(50, 80, 30, 96);
  int fed = 0;
  for (const auto& [frames, under, around] :
       {std::tuple{1, 9, 11}, std::tuple{3, 7, 13}, std::tuple{12, 0, 22}}) {
    for (; fed < frames; ++fed) Process(segmenter, person);
    EXPECT_EQ(ModelAlpha(segmenter, 65, 60), under) << frames;
    EXPECT_EQ(ModelAlpha(segmenter, 5, 5), around) << frames;
  }
  const auto model = Rgba(*segmenter.background_model());
  EXPECT_EQ(model[4 * (60 * kSize.width + 65)], Room(65, 60)[0]);
}

// The colour classifier against a model one frame old, in bands of red offsets from the room:
// under 8 levels is background, over 100 person, in between unknown; a pixel without confidence
// (under the person of the first frame) stays unknown. The model forgets a pixel whose colour
// moved by more than a squared distance of 0.005 (18 levels keep it, 19 do not).
TEST_F(TemporalSegmenterTest, ClassifierAndModelThresholdsOnBothSides) {
  struct Band {
    int offset;
    uint8_t label;
    int alpha;  // the model's confidence after the frame
  };
  const Band bands[] = {{7, 0, 2},    {8, 128, 2},   {18, 128, 2},
                        {19, 128, 0}, {100, 128, 0}, {101, 255, 0}};
  const int width = 20;
  algorithms::TemporalSegmenter segmenter;
  Process(segmenter, Person(50, 80, 40, 96));
  ASSERT_EQ(ModelAlpha(segmenter, 5, 5), 1);
  ASSERT_EQ(ModelAlpha(segmenter, 65, 70), 0);
  Scene shifted;
  shifted.colour = [&](int x, int y) {
    Colour c = Room(x, y);
    c[0] = uint8_t(c[0] + bands[std::min(x / width, 5)].offset);
    return c;
  };
  Process(segmenter, shifted);
  const auto labels = Grey(segmenter.improved_trimap());
  for (int i = 0; i < 6; ++i) {
    const int x = i * width + width / 2;
    EXPECT_EQ(labels[10 * kSize.width + x], bands[i].label) << "offset " << bands[i].offset;
    EXPECT_EQ(ModelAlpha(segmenter, x, 10), bands[i].alpha) << "offset " << bands[i].offset;
  }
  EXPECT_EQ(labels[70 * kSize.width + 65], 128);
}

}  // namespace
}  // namespace vantisol
