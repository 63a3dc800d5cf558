#pragma once

// Test-only view into the simulated runtime: what each frame really shows. Reached through the
// sense manager's QueryInstance(PXCSimulationTruth::CUID).

#include "pxc/pxc.h"

class PXCSimulationTruth : public PXCBase {
 public:
  static constexpr pxcUID CUID = 0x48545254;
  static constexpr int kExpressions = 4;  // smile, mouth open, brows raised, eyes closed

  struct Person {
    int32_t user_id;              // the id the face module reports, or -1 while it reports none
    PXCPoint3DF32 head_position;  // millimetres, colour camera, y up
    float yaw, pitch, roll;       // degrees
    float expression[kExpressions];
    PXCRectI32 box;  // colour pixels
  };

  virtual int32_t QueryFrameNumber() = 0;
  virtual int32_t QueryNumberOfPersons() = 0;
  virtual pxcStatus QueryPerson(int32_t index, Person* person) = 0;
  // Colour-sized, 255 where a person is seen; valid until the next frame.
  virtual const uint8_t* QueryPersonMask(PXCSizeI32* size) = 0;
};
