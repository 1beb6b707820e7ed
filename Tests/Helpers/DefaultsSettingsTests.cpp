#include "Helpers/DefaultsStoreError.hpp"
#include "Helpers/FanControlOwnershipStore.hpp"
#include "Helpers/InMemoryDefaultsStore.hpp"

#include <gtest/gtest.h>
#include <limits>

namespace quorvane {
namespace {

TEST(FanControlOwnershipStore, LoadsOnlyExactRawValues) {
    InMemoryDefaultsStore defaults;
    FanControlOwnershipStore store(defaults);
    EXPECT_EQ(store.load(), FanControlOwnership::quorvane);
    store.save(FanControlOwnership::anotherApp);
    EXPECT_EQ(defaults.value(FanControlOwnershipStore::storageKey), "anotherApp");
    EXPECT_EQ(store.load(), FanControlOwnership::anotherApp);
    for (const char* stored : {"AnotherApp", "anotherapp", " anotherApp", ""}) {
        defaults.setString(FanControlOwnershipStore::storageKey, stored);
        EXPECT_EQ(store.load(), FanControlOwnership::quorvane) << stored;
    }
    EXPECT_EQ(title(FanControlOwnership::anotherApp), "Another app controls fans");
}

TEST(DefaultsStore, TypedReadsRefuseOtherTypesAndNonFiniteNumbersAreNotStored) {
    InMemoryDefaultsStore defaults;
    defaults.setString("text", "2");
    defaults.setNumber("number", 2.5);
    defaults.setValue("whole", 3.0);
    EXPECT_EQ(defaults.integer("text"), std::nullopt);
    EXPECT_EQ(defaults.integer("number"), std::nullopt);
    EXPECT_EQ(defaults.integer("whole"), 3);
    EXPECT_EQ(defaults.boolean("whole"), std::nullopt);
    EXPECT_THROW(defaults.setNumber("number", std::numeric_limits<double>::infinity()), DefaultsStoreError);
    EXPECT_EQ(defaults.number("number"), 2.5);
}

} // namespace
} // namespace quorvane
