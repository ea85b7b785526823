// placeholder until the stereogram renderer lands
#include "stereo/stereogram.hpp"
void renderStereogram(DepthMap&) {}
void releasePattern() {}
