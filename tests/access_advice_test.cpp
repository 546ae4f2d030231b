// Whether joining a group would let the user open a device that refused them: decided from the
// device's recorded owner and mode alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "serial/posix/access_advice.h"

namespace zq::posix {
namespace {

TEST(AccessAdvice, GroupIsAdvisedOnlyWhenItReadsAndWritesAndIsNotRoot) {
    struct Case {
        DeviceOwnership owner;
        std::optional<std::string> join;
        std::string described;
    };
    for (const Case& c : {
             Case{{0, 20, S_IFCHR | 0660, "root", "dialout"},
                  "dialout",
                  "user root, group dialout, mode crw-rw----"},
             Case{{0, 0, S_IFCHR | 0660, "root", "root"},
                  std::nullopt,
                  "user root, group root, mode crw-rw----"},
             Case{{0, 5, S_IFCHR | 0620, "root", "tty"},
                  std::nullopt,
                  "user root, group tty, mode crw--w----"},
             Case{{1000, 1000, S_IFCHR | 0640, "ann", "ann"},
                  std::nullopt,
                  "user ann, group ann, mode crw-r-----"},
         }) {
        EXPECT_EQ(groupToJoin(c.owner), c.join) << c.described;
        EXPECT_EQ(describeOwnership(c.owner), c.described);
    }
}

}  // namespace
}  // namespace zq::posix
