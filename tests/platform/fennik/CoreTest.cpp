// UUID texts, rounding, module loading failures and thread slices.

#include "fennik/server/core/Math.h"
#include "fennik/server/core/ThreadSlice.h"
#include "fennik/server/core/Uuid.h"
#include "fennik/server/module/ModuleLoader.h"

#include <gtest/gtest.h>

#include <boost/uuid/uuid_io.hpp>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdint>
#include <set>
#include <thread>

namespace fennik::server {
namespace {

TEST(UuidTest, TextConversionIsStrictAndCanonical) {
  const std::string text = "79fd76f4-1899-4826-b3c9-e0f8cdf81d9e";
  const Uuid id = UuidFromS("79FD76F4-1899-4826-B3C9-E0F8CDF81D9E");
  EXPECT_EQ(UuidToS(id), text) << "canonical text is lower case";
  for (int i = 0; i < 100; ++i) {
    const Uuid r = random_uuid();
    EXPECT_EQ(UuidToS(r), boost::uuids::to_string(r)) << "every byte in its place";
  }
  EXPECT_EQ(UuidFromS(text), id);
  EXPECT_TRUE(UuidFromS(NIL_UUID_TEXT).is_nil());
  for (const char* bad : {"{79fd76f4-1899-4826-b3c9-e0f8cdf81d9e}", "79fd76f418994826b3c9e0f8cdf81d9e",
                          "79fd76f4-1899-4826-b3c9-e0f8cdf81d9", "79fd76f4-1899-4826-b3c9-e0f8cdf81d9ef",
                          "79fd76f4-1899-4826-b3c9-e0f8cdf81d9g", "79fd76f4+1899-4826-b3c9-e0f8cdf81d9e", "",
                          "z9fd76f4-1899-4826-b3c9-e0f8cdf81d9e", "79fd76f4-1899-4826-b3c9-e0f8cdf81d\xc3\xa9",
                          "79fd76f4-1899-4826-b3c9-e0f8cdf8 d9e"}) {
    EXPECT_THROW(UuidFromS(bad), std::invalid_argument) << bad;
  }
  const auto texts = uuidVectorToStringVector({id, Uuid{}});
  EXPECT_EQ(texts, (std::vector<std::string>{text, NIL_UUID_TEXT}));
  EXPECT_EQ(uuidVectorFromStringVector(texts), (std::vector<Uuid>{id, Uuid{}}));
  EXPECT_THROW(uuidVectorFromStringVector({"x"}), std::invalid_argument);
}

TEST(UuidTest, RandomIdsDifferAndNameBasedIdsAreStableVersion5) {
  std::set<Uuid> seen;
  for (int i = 0; i < 1000; ++i) seen.insert(random_uuid());
  EXPECT_EQ(seen.size(), 1000u);
  EXPECT_EQ(random_uuid().version(), Uuid::version_random_number_based);

  const Uuid ns = UuidFromS("8b4dd393-2273-4b17-9ca2-f63f88153d23");
  const Uuid key = nameUuid(ns, "delayInMs");
  EXPECT_EQ(key, nameUuid(ns, "delayInMs"));
  EXPECT_NE(key, nameUuid(ns, "isBypassed"));
  EXPECT_NE(key, nameUuid(random_uuid(), "delayInMs"));
  EXPECT_EQ(key.version(), Uuid::version_name_based_sha1);
}

TEST(MathTest, RoundToPlacesRoundsHalfAwayFromZero) {
  EXPECT_DOUBLE_EQ(roundToPlaces(2.346, 2), 2.35);
  EXPECT_DOUBLE_EQ(roundToPlaces(-2.346, 2), -2.35);
  EXPECT_DOUBLE_EQ(roundToPlaces(0.5, 0), 1.0);
  EXPECT_DOUBLE_EQ(roundToPlaces(-0.5, 0), -1.0);
  EXPECT_DOUBLE_EQ(roundToPlaces(1234.5, -2), 1200.0);
  EXPECT_DOUBLE_EQ(roundToPlaces(7.0, 3), 7.0);
}

TEST(ModuleLoaderTest, MissingOrForeignLibrariesFailWithTheirPath) {
  auto globals = std::make_shared<SingletonRegistry>();
  try {
    loadModule("/nonexistent/libnothing.so", globals);
    FAIL() << "expected a failure";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("/nonexistent/libnothing.so"), std::string::npos) << e.what();
  }
  // A real shared library without the entry point.
  EXPECT_THROW(loadModule("libm.so.6", globals), std::runtime_error);
}

// The calling thread's nice value and slice (ns; zero where the kernel keeps
// no slice per thread).
std::pair<int, std::uint64_t> schedulingOfThisThread() {
  std::uint64_t attr[7] = {sizeof attr};  // struct sched_attr
  syscall(SYS_sched_getattr, 0, attr, sizeof attr, 0);
  return {getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())), attr[3]};
}

TEST(ThreadSliceTest, AThreadKeepsItsNiceValueAndItsChildrenTheDefaultSlice) {
  std::thread([] {
    const auto [niceBefore, defaultSlice] = schedulingOfThisThread();
    if (defaultSlice == 0) GTEST_SKIP() << "this kernel keeps no scheduling slice per thread";
    // A thread the user (or a service manager) made nicer stays as nice:
    // the call only shortens its turns.
    ASSERT_EQ(setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), niceBefore + 3), 0);
    EXPECT_TRUE(useShortSlice(std::chrono::microseconds(200)));
    EXPECT_EQ(schedulingOfThisThread(), std::make_pair(niceBefore + 3, std::uint64_t{200'000}));
    // Below the kernel's least slice it gets the least, 0.1 ms.
    EXPECT_TRUE(useShortSlice(std::chrono::microseconds(20)));
    EXPECT_EQ(schedulingOfThisThread().second, 100'000u);
    // A thread it starts is not one a user waits on.
    std::uint64_t childSlice = 0;
    std::thread([&] { childSlice = schedulingOfThisThread().second; }).join();
    EXPECT_EQ(childSlice, defaultSlice);
  }).join();
}

}  // namespace
}  // namespace fennik::server
