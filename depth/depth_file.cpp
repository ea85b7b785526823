// placeholder until the depth files land
#include "depth/depth_file.hpp"
ConvertResult convertDepthFile(const char*, std::string*) { return ConvertResult::UnknownExtension; }
DepthMapPtr loadDepthMap(const char*, std::string*) { return nullptr; }
