#pragma once

// Registers the generated face model and the loader test files as Qt resources.
void RegisterFaceModel();
void RegisterTestResources();
