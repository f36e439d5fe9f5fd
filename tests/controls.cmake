iv_test(test_controls ivcontrols ivassets
  SOURCES AssetsTest.cpp ButtonTest.cpp CanvasTest.cpp ControlsForm.ui ControlsTestSupport.h
          FormTest.cpp TileImageTest.cpp)
