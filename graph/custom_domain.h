// The library's custom-operator domains, "com.quandrel" and "com.quandrel.int8", each shared by every
// session of the process.
#pragma once

namespace Ort {
struct CustomOpDomain;
struct SessionOptions;
}  // namespace Ort

namespace ko {

// Created on first use with the library's operators in it, released at process exit. ONNX Runtime
// failures are thrown as Ort::Exception; a failed creation is retried by the next call.
Ort::CustomOpDomain& quandrelDomain();

// Adds the domain's operators, each a process-wide description, to `domain`.
void domainOps(Ort::CustomOpDomain& domain);

// Makes the domain's operators available to sessions created with `options`. Further calls for the
// same options, of this or of registerWarpDirector, add nothing (the options carry a config entry
// "ko.quandrel_domain_added" saying so).
void registerGridSampleFast(Ort::SessionOptions& options);

// The same as registerGridSampleFast, named for the caller that needs WarpDirector.
void registerWarpDirector(Ort::SessionOptions& options);

// "com.quandrel.int8" with Int8ConvVNNI, created and released like quandrelDomain().
Ort::CustomOpDomain& quandrelInt8Domain();

// Makes "com.quandrel.int8" available to sessions created with `options`. Call once per options.
void registerInt8ConvVNNI(Ort::SessionOptions& options);

}  // namespace ko
