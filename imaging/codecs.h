// Registration of the codecs with the picture registry, for the life of one object:
// the program and the command-line tool create one at start and drop it at exit.
#pragma once

class TCodecRegistration {
 public:
  TCodecRegistration();
  ~TCodecRegistration();
  TCodecRegistration(const TCodecRegistration&) = delete;
  TCodecRegistration& operator=(const TCodecRegistration&) = delete;
};
