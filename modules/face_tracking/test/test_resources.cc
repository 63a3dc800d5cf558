#include "test_resources.h"

#include <QtGlobal>

void RegisterFaceModel() { Q_INIT_RESOURCE(face_model); }
void RegisterTestResources() { Q_INIT_RESOURCE(test_data); }
