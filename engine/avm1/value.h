#pragma once
// ActionScript values. (Being written.)
