// Not built: words_incomplete_table compiles it and expects the error the build gives a table
// that leaves a text out (here the shared words' caption "attention").
#include "words/words.h"

constinit const SharedWords kIncomplete = {
    .unforeseen = "Cannot continue",
};
