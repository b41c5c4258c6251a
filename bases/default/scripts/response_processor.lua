-- ResponseProcessor(response)
--
-- Called for the responses of tracking requests that were let through:
-- the tracker sets no cookie.

local function MakeResponseProcessor()
  local policy = DntEngine.Require("TrackingPolicy")

  return function(response)
    if policy.RemoveIfPresent(response, "Set-Cookie") then
      policy.Log("Set-Cookie removed from a tracker's response")
    end
  end
end

return "ResponseProcessor", MakeResponseProcessor
