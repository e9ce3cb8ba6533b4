// An applet holding many objects of the kinds kept by identifier (paths,
// move lists, anim streams, intervals): each is found, freed and made again
// by its number or handle, unknown ones keep their errors, and the player
// frees whatever is left when it ends. Every kind is seen by the generic
// object commands (HaveObject, GetObjectType, object data). The sanitizer
// build runs the same applet under ASan and the leak checker.
#include <string>

#include "tests/player/player_harness.h"

namespace {

using vlplayer::Result;

using ObjectIds = vlplayer::PlayerTest;

TEST_F(ObjectIds, ManyObjectsAreFoundFreedAndMadeAgainByIdentifier) {
  std::string text = ".function tick\n  .line 1\n  ret\n.end\n.line 2\n.call exitonerror 0\n";
  for (int i = 1; i <= 1000; ++i) {
    const std::string n = std::to_string(i);
    text += ".call startpath " + n + "\n.call addmove " + n + " 25 1\n.call setinterval " + n +
            " fn:tick 600000\n";
    if (i <= 100) text += ".call beginanimstream " + n + " \"/dev/null\" 2 2\n";
  }
  // Made, then found by handle; numbers freed from the middle.
  text += R"(.call startpath nil -> p
.call getobjecttype $p -> t
.call debugprint $t
.call freepath 500
.call haveobject 49 500 -> a
.call haveobject 49 501 -> b
.call debugprint $a $b
.call moveto 500 0 0
.call getlasterror -> e
.call debugprint $e
.call freepath $p
.call moveto $p 0 0
.call getlasterror -> e
.call debugprint $e
.call clearmove 500
.call clearmove 500
.call getlasterror -> e
.call debugprint $e
.call finishanimstream 50
.call finishanimstream 50
.call getlasterror -> e
.call debugprint $e
.call clearinterval 500
.call clearinterval 500
.call getlasterror -> e
.call debugprint $e
.call startpath 500
.call haveobject 49 500 -> a
.call ispathempty 500 -> empty
.call beginanimstream 50 "/dev/null" 2 2
.call haveobject 52 50 -> s
.call debugprint $a $empty $s
.call haveobject 51 7 -> m
.call haveobject 51 500 -> m2
.call haveobject 41 7 -> i
.call haveobject 41 500 -> i2
.call settimeout 9 fn:tick 600000
.call haveobject 42 9 -> t
.call debugprint $m $m2 $i $i2 $t
.call addmove nil 25 1 -> mh
.call setinterval nil fn:tick 600000 -> ih
.call getobjecttype $mh -> mt
.call getobjecttype $ih -> it
.call debugprint $mt $it
.call setobjectdata 51 7 "k" "move"
.call getobjectdata 51 7 "k" -> d
.call debugprint $d)";
  Result r = Run({Applet("ids", text)});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "49\n0 1\n1393\n1041\n1182\n1341\n1194\n1 true 1\n1 0 1 0 1\n51 41\nmove\n") << r.err;
}

}  // namespace
