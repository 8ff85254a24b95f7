// Tag type codes, as held in table "tagType".
#pragma once

enum TagType : int {
  TagGenre = 0,
  TagAlbum = 1,
  TagArtist = 2,
  TagMix = 3,
  TagZorva = 4,
  TagPlaylist = 5,
  // The rating text of a track; used only inside a track's upload XML.
  TagRating = 6,
};

// The word of a stored type (0 to 5), which also names the type's icon file;
// the empty text for any other code.
const char* TagTypeWord(int type);
