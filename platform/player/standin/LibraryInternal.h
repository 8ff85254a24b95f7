// Shared by the library loaders and the model.
#pragma once

#include <filesystem>

#include "platform/player/standin/Library.h"

namespace platform::player {

// A file track for the audio file at `path`, named from its path below `root`
// (Artist/Album/NN Title.ext; with no root, from the last three parts of the
// path). Database id 0; the length is estimated from the file size.
TrackData DescribeAudioFile(const std::filesystem::path& path, const std::filesystem::path& root = {});

bool IsAudioFileName(const std::filesystem::path& path);

}  // namespace platform::player
